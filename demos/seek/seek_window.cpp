#include "demos/seek/seek_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <utility>

#include "demos/seek/scroll_units.h"

namespace orvan::seek {
namespace {

constexpr LONG kSampleRate = 48000;
constexpr LONG kRepeats = 16;
constexpr int kTimerIntervalMs = 10;

QPushButton* make_button(QWidget* parent, const char* name, const char* caption, int row) {
  auto* button = new QPushButton(QString::fromLatin1(caption), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(12, 12 + row * 38, 104, 32);
  return button;
}

QLabel* make_label(QWidget* parent, const char* name, const char* caption, int top) {
  auto* label = new QLabel(QString::fromLatin1(caption), parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(132, top, 340, 24);
  return label;
}

}  // namespace

Form1::Form1(demo::MessageBoxHost& boxes, demo::EngineFactory factory)
    : DemoWindow(boxes, std::move(factory)) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Form1"));
  setFixedSize(488, 206);

  // Made in keyboard tab order, which is also the focus chain's.
  command1_ = make_button(this, "Command1", "initialize", 0);
  command2_ = make_button(this, "Command2", "Play", 2);
  command3_ = make_button(this, "Command3", "Stop", 3);
  command4_ = make_button(this, "Command4", "CleanUp", 4);
  command5_ = make_button(this, "Command5", "Load", 1);
  hscroll1_ = new QScrollBar(Qt::Horizontal, this);
  hscroll1_->setObjectName(QStringLiteral("HScroll1"));
  hscroll1_->setGeometry(132, 88, 340, 20);
  hscroll1_->setRange(0, 32767);
  hscroll1_->setValue(0);
  hscroll1_->setSingleStep(1);
  hscroll1_->setPageStep(1);
  hscroll1_->setFocusPolicy(Qt::StrongFocus);
  label1_ = make_label(this, "Label1", "Music lengh = ", 14);
  label2_ = make_label(this, "Label2", "Current position =", 48);
  setTabOrder(command1_, command2_);
  setTabOrder(command2_, command3_);
  setTabOrder(command3_, command4_);
  setTabOrder(command4_, command5_);
  setTabOrder(command5_, hscroll1_);

  timer1_ = new QTimer(this);
  timer1_->setObjectName(QStringLiteral("Timer1"));
  timer1_->setInterval(kTimerIntervalMs);

  connect(command1_, &QPushButton::clicked, this, &Form1::initialize_clicked);
  connect(command5_, &QPushButton::clicked, this, &Form1::load_clicked);
  connect(command2_, &QPushButton::clicked, this, &Form1::play_clicked);
  connect(command3_, &QPushButton::clicked, this, &Form1::stop_clicked);
  connect(command4_, &QPushButton::clicked, this, &Form1::cleanup_clicked);
  connect(timer1_, &QTimer::timeout, this, &Form1::timer_ticked);
  // Only the user's drag seeks: arrow and track clicks, and values the program sets, move
  // the thumb without a sliderMoved from the user.
  connect(hscroll1_, &QScrollBar::sliderMoved, this, &Form1::thumb_dragged);
}

Form1::~Form1() {
  // A window destroyed without being closed still lets go of its engine the same way.
  if (engine_) unload();
}

QString Form1::music_path(const QString& program_dir) {
  return program_dir + QStringLiteral("/../media/Theme.mid");
}

QString Form1::music_caption(const QString& program_dir) {
  return program_dir + QStringLiteral("/.../media/Theme.mid");
}

HRESULT Form1::load() {
  const HRESULT hr = create_engine(engine_);
  if (FAILED(hr)) return hr;
  command2_->setEnabled(false);
  command3_->setEnabled(false);
  command4_->setEnabled(false);
  command5_->setEnabled(false);
  return S_OK;
}

void Form1::initialize_clicked() {
  if (!succeeded(demo::init_audio(engine_.get(), native_handle(), kSampleRate), "InitOrvanAudio")) {
    return;
  }
  command5_->setEnabled(true);
  command1_->setEnabled(false);
}

void Form1::load_clicked() {
  const QString program_dir = QCoreApplication::applicationDirPath();
  if (!succeeded(demo::load_music(engine_.get(), music_path(program_dir)), "Music_Load")) return;
  command2_->setEnabled(true);
  command3_->setEnabled(true);
  command4_->setEnabled(true);
  setWindowTitle(music_caption(program_dir));

  LONG length = 0;
  if (!succeeded(engine_->GetLengh(&length), "GetLengh")) return;
  label1_->setText(QStringLiteral("Music lengh = ") + QString::number(length));
  length = 0;
  if (!succeeded(engine_->GetLengh(&length), "GetLengh")) return;
  set_bar_maximum(scroll_steps(length));
}

void Form1::play_clicked() {
  if (!succeeded(demo::play_music(engine_.get(), kRepeats), "Music_Play")) return;
  timer1_->start();
}

void Form1::stop_clicked() {
  if (!succeeded(engine_->Music_Stop(), "Music_Stop")) return;
  if (!succeeded(demo::set_position(engine_.get(), 0), "SetPosition")) return;
  timer1_->stop();
}

void Form1::cleanup_clicked() {
  if (!succeeded(engine_->CleanupAudio(), "CleanupAudio")) return;
  command1_->setEnabled(true);
  command2_->setEnabled(false);
  command3_->setEnabled(false);
  command4_->setEnabled(false);
  command5_->setEnabled(false);
  timer1_->stop();
}

void Form1::timer_ticked() {
  LONG position = 0;
  HRESULT hr = engine_->GetCurrentPosition(&position);
  if (SUCCEEDED(hr)) {
    label2_->setText(QStringLiteral("Current position =") + QString::number(position));
    position = 0;
    hr = engine_->GetCurrentPosition(&position);
  }
  if (FAILED(hr)) {
    // One report, not one every ten milliseconds: the display stops following the music
    // until the next Play or drag starts it again.
    timer1_->stop();
    (void)succeeded(hr, "GetCurrentPosition");
    return;
  }
  set_bar_value(scroll_steps(position));
}

void Form1::thumb_dragged() {
  if (moving_bar_) return;
  timer1_->stop();
  // sliderMoved comes before the value follows the thumb: the thumb's position is the value.
  const int step = hscroll1_->sliderPosition();
  if (!succeeded(demo::set_position(engine_.get(), music_time_of_step(step)), "SetPosition")) {
    return;
  }
  timer1_->start();
}

void Form1::set_bar_value(int value) {
  // Setting the value while the user holds the thumb emits sliderMoved as if dragged.
  moving_bar_ = true;
  hscroll1_->setValue(value);
  moving_bar_ = false;
}

void Form1::set_bar_maximum(int maximum) {
  // The minimum stays 0: a maximum below it would drag the minimum down with it.
  moving_bar_ = true;
  hscroll1_->setMaximum(std::max(maximum, hscroll1_->minimum()));
  moving_bar_ = false;
}

void Form1::closeEvent(QCloseEvent* event) {
  if (engine_) unload();
  event->accept();
  emit unloaded();
}

void Form1::unload() {
  // The window may outlive its unload while the boxes it raised are read: nothing may tick.
  timer1_->stop();
  // Unloading is never refused: a failed CleanupAudio is reported and the engine released.
  (void)succeeded(engine_->CleanupAudio(), "CleanupAudio");
  engine_.reset();
}

}  // namespace orvan::seek
