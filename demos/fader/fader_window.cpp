#include "demos/fader/fader_window.h"

#include <QCloseEvent>
#include <utility>

#include "demos/fader/volume_mapping.h"
#include "orvan/status.h"

namespace orvan::fader {
namespace {

constexpr LONG kSampleRate = 48000;
constexpr LONG kRepeats = 100;

QPushButton* make_button(QWidget* parent, const char* name, const char* caption,
                         const QRect& geometry) {
  auto* button = new QPushButton(QString::fromLatin1(caption), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(geometry);
  return button;
}

QLineEdit* make_text(QWidget* parent, const char* name, int top) {
  auto* text = new QLineEdit(QString::fromLatin1(name), parent);
  text->setObjectName(QString::fromLatin1(name));
  text->setGeometry(12, top, 316, 28);
  return text;
}

}  // namespace

Form1::Form1(demo::MessageBoxHost& boxes, demo::EngineFactory factory)
    : DemoWindow(boxes, std::move(factory)) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Form1"));
  setFixedSize(440, 198);

  // Made in keyboard tab order, which is also the focus chain's.
  hscroll1_ = new QScrollBar(Qt::Horizontal, this);
  hscroll1_->setObjectName(QStringLiteral("HScroll1"));
  hscroll1_->setGeometry(12, 86, 416, 20);
  hscroll1_->setRange(kThumbMinimum, kThumbMaximum);
  hscroll1_->setSingleStep(1);
  hscroll1_->setPageStep(1);
  hscroll1_->setFocusPolicy(Qt::StrongFocus);
  command1_ = make_button(this, "Command1", "CH1", QRect(336, 12, 92, 28));
  command2_ = make_button(this, "Command2", "CH2", QRect(336, 48, 92, 28));
  text1_ = make_text(this, "Text1", 12);
  text2_ = make_text(this, "Text2", 48);
  command3_ = make_button(this, "Command3", "PlayCH1", QRect(12, 118, 132, 32));
  command4_ = make_button(this, "Command4", "PlayCH2", QRect(296, 118, 132, 32));
  command5_ = make_button(this, "Command5", "StopCH1", QRect(12, 156, 132, 32));
  command6_ = make_button(this, "Command6", "StopCH2", QRect(296, 156, 132, 32));
  QWidget* order[] = {hscroll1_, command1_, command2_, text1_,   text2_,
                      command3_, command4_, command5_, command6_};
  for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  cmd1_ = new QFileDialog(this);
  cmd1_->setObjectName(QStringLiteral("CMD1"));
  cmd1_->setFileMode(QFileDialog::ExistingFile);
  cmd1_->setAcceptMode(QFileDialog::AcceptOpen);

  connect(command1_, &QPushButton::clicked, this, [this] { choose_music(0, text1_); });
  connect(command2_, &QPushButton::clicked, this, [this] { choose_music(1, text2_); });
  connect(command3_, &QPushButton::clicked, this, [this] { play(0); });
  connect(command4_, &QPushButton::clicked, this, [this] { play(1); });
  connect(command5_, &QPushButton::clicked, this, [this] { stop(0); });
  connect(command6_, &QPushButton::clicked, this, [this] { stop(1); });
  // Only the user's drag sets volumes: arrow and track clicks, and the value set at load,
  // move the thumb without a sliderMoved from the user.
  connect(hscroll1_, &QScrollBar::sliderMoved, this, &Form1::thumb_dragged);
}

Form1::~Form1() {
  // Final destruction: the unload loop once more, every failure ignored, so a channel
  // already released is passed over. After a normal unload nothing is left to do.
  for (demo::EngineRef& channel : channels_) {
    if (!channel) continue;
    (void)channel->CleanupAudio();
    channel.reset();
  }
}

HRESULT Form1::load() {
  // Channel 1 is made and initialised completely before channel 2 is made.
  for (demo::EngineRef& channel : channels_) {
    const HRESULT hr = create_engine(channel);
    if (FAILED(hr)) return hr;
    if (!succeeded(demo::init_audio(channel.get(), native_handle(), kSampleRate),
                   "InitOrvanAudio")) {
      return S_OK;
    }
  }
  cmd1_->setNameFilter(QStringLiteral("Midi Files (*.mid)"));
  // The value the thumb starts at sets no volume: both channels keep the volume they have
  // after initialisation until the user first drags.
  moving_bar_ = true;
  hscroll1_->setValue(kThumbAtStart);
  moving_bar_ = false;
  text1_->setText(QStringLiteral("Please load music to channel"));
  text2_->setText(QStringLiteral("Please load music to channel"));
  return S_OK;
}

void Form1::choose_music(int channel, QLineEdit* text) {
  // A cancelled dialog ends the handler: the text box and the channel stay as they were.
  if (cmd1_->exec() != QDialog::Accepted) return;
  text->setText(cmd1_->selectedFiles().value(0));
  const QString file = cmd1_->selectedFiles().value(0);
  (void)succeeded(
      call(channel, [&](_OrvanMusic* engine) { return demo::load_music(engine, file); }),
      "Music_Load");
}

void Form1::play(int channel) {
  (void)succeeded(
      call(channel, [](_OrvanMusic* engine) { return demo::play_music(engine, kRepeats); }),
      "Music_Play");
}

void Form1::stop(int channel) {
  (void)succeeded(call(channel, [](_OrvanMusic* engine) { return engine->Music_Stop(); }),
                  "Music_Stop");
}

template <typename Call>
HRESULT Form1::call(int channel, Call&& engine_call) {
  // A load that stopped early leaves a channel without its object; using it is the
  // automation error for an unset object variable, not a crash.
  _OrvanMusic* engine = channels_[static_cast<std::size_t>(channel)].get();
  if (!engine) return E_OBJECT_NOT_SET;
  return engine_call(engine);
}

void Form1::thumb_dragged() {
  if (moving_bar_) return;
  // sliderMoved comes before the value follows the thumb: the thumb's position is the value.
  const auto thumb1 = static_cast<std::int16_t>(hscroll1_->sliderPosition());
  if (!succeeded(call(0,
                      [&](_OrvanMusic* engine) {
                        return demo::set_master_volume(engine, channel1_volume(thumb1));
                      }),
                 "SetMasterVolume")) {
    return;
  }
  const auto thumb2 = static_cast<std::int16_t>(hscroll1_->sliderPosition());
  (void)succeeded(call(1,
                       [&](_OrvanMusic* engine) {
                         return demo::set_master_volume(engine, channel2_volume(thumb2));
                       }),
                  "SetMasterVolume");
}

void Form1::closeEvent(QCloseEvent* event) {
  unload();
  event->accept();
  emit unloaded();
}

void Form1::unload() {
  for (demo::EngineRef& channel : channels_) {
    if (!channel) continue;
    if (!succeeded(channel->CleanupAudio(), "CleanupAudio")) return;
    channel.reset();
  }
}

}  // namespace orvan::fader
