// Seek's window, Form1: one engine object driven through its whole life. The buttons enable
// one another so that they can only be pressed in the order a client must call the engine:
// initialize, Load, Play/Stop, CleanUp.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include "demos/common/demo_window.h"

namespace orvan::seek {

class Form1 final : public demo::DemoWindow {
  Q_OBJECT

 public:
  explicit Form1(demo::MessageBoxHost& boxes,
                 demo::EngineFactory factory = demo::create_orvan_music);
  ~Form1() override;

  HRESULT load() override;

  // The file the Load button hands the engine, and the caption it shows for it.
  static QString music_path(const QString& program_dir);
  static QString music_caption(const QString& program_dir);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void initialize_clicked();
  void load_clicked();
  void play_clicked();
  void stop_clicked();
  void cleanup_clicked();
  void timer_ticked();
  void thumb_dragged();
  void unload();
  // Moves the thumb or the range for the program: no seek follows.
  void set_bar_value(int value);
  void set_bar_maximum(int maximum);

  demo::EngineRef engine_;
  bool moving_bar_ = false;

  QPushButton* command1_;  // "initialize"
  QPushButton* command2_;  // "Play"
  QPushButton* command3_;  // "Stop"
  QPushButton* command4_;  // "CleanUp"
  QPushButton* command5_;  // "Load"
  QLabel* label1_;         // music length
  QLabel* label2_;         // play position
  QScrollBar* hscroll1_;   // play position, one step per 100 music-time units
  QTimer* timer1_;
};

}  // namespace orvan::seek
