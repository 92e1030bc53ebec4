#include "examples/beat_window/beat_window.h"

#include <QGridLayout>
#include <QVBoxLayout>

namespace orvan::examples {
namespace {

QLabel* figure(const QString& name) {
  auto* label = new QLabel(QStringLiteral("-"));
  label->setObjectName(name);
  label->setAlignment(Qt::AlignCenter);
  QFont font = label->font();
  font.setPixelSize(120);
  font.setBold(true);
  label->setFont(font);
  label->setMinimumWidth(220);
  return label;
}

QLabel* caption(const QString& text) {
  auto* label = new QLabel(text);
  label->setAlignment(Qt::AlignCenter);
  QFont font = label->font();
  font.setPixelSize(20);
  label->setFont(font);
  return label;
}

QLabel* line(const QString& name, const QString& text) {
  auto* label = new QLabel(text);
  label->setObjectName(name);
  label->setAlignment(Qt::AlignCenter);
  QFont font = label->font();
  font.setPixelSize(22);
  label->setFont(font);
  return label;
}

}  // namespace

BeatWindow::BeatWindow(IUnknown* music, long sample_rate, const QString& title, QWidget* parent)
    : QWidget(parent),
      music_(music),
      sample_rate_(sample_rate > 0 ? sample_rate : 48000),
      bar_(figure(QStringLiteral("bar"))),
      beat_(figure(QStringLiteral("beat"))),
      heard_at_(line(QStringLiteral("heardAt"), QString())),
      marker_(line(QStringLiteral("marker"), tr("No marker yet"))),
      state_(line(QStringLiteral("state"), tr("Waiting for the music"))),
      sink_(handlers()),
      connection_(music, &sink_) {
  if (music_) music_->AddRef();
  setWindowTitle(tr("Beats of %1").arg(title));

  auto* figures = new QGridLayout;
  figures->addWidget(caption(tr("Bar")), 0, 0);
  figures->addWidget(caption(tr("Beat")), 0, 1);
  figures->addWidget(bar_, 1, 0);
  figures->addWidget(beat_, 1, 1);

  auto* layout = new QVBoxLayout(this);
  QLabel* piece = line(QStringLiteral("piece"), title);
  piece->setStyleSheet(QStringLiteral("font-weight: bold"));
  layout->addWidget(piece);
  layout->addLayout(figures);
  layout->addWidget(heard_at_);
  layout->addWidget(marker_);
  layout->addWidget(state_);
  layout->setContentsMargins(24, 16, 24, 16);

  if (FAILED(status()))
    state_->setText(tr("Cannot hear the music's events (0x%1)")
                        .arg(static_cast<unsigned>(status()), 8, 16, QLatin1Char('0')));
}

BeatWindow::~BeatWindow() = default;

HRESULT BeatWindow::status() const {
  if (FAILED(notifier_.status())) return notifier_.status();
  return connection_.status();
}

MusicEventHandlers BeatWindow::handlers() {
  MusicEventHandlers h;
  h.beat = [this](long bar, long beat, double frame) {
    bar_->setText(QString::number(bar));
    beat_->setText(QString::number(beat));
    heard_at_->setText(tr("heard at %1").arg(time_at(frame)));
  };
  h.marker = [this](std::u16string_view name, double frame) {
    marker_->setText(tr("Marker \u201c%1\u201d at %2")
                         .arg(QString::fromUtf16(name.data(), static_cast<qsizetype>(name.size())),
                              time_at(frame)));
  };
  h.started = [this](double frame) { show_state(tr("Playing"), frame); };
  h.looped = [this](long passes_left, double frame) {
    show_state(tr("Looped, %n pass(es) left", nullptr, static_cast<int>(passes_left)), frame);
  };
  h.ended = [this](double frame) { show_state(tr("Ended"), frame); };
  h.stopped = [this](double frame) { show_state(tr("Stopped"), frame); };
  h.transition_done = [this](double frame) { show_state(tr("Next piece playing"), frame); };
  return h;
}

void BeatWindow::show_state(const QString& state, double frame) {
  state_->setText(tr("%1 at %2").arg(state, time_at(frame)));
}

QString BeatWindow::time_at(double frame) const {
  const double seconds = frame / static_cast<double>(sample_rate_);
  const int minutes = static_cast<int>(seconds / 60.0);
  return QStringLiteral("%1:%2").arg(minutes).arg(seconds - minutes * 60.0, 5, 'f', 2,
                                                  QLatin1Char('0'));
}

}  // namespace orvan::examples
