// Duvane's window, Form1: two engine objects as two independent channels, each loaded from
// a file the user picks, played and stopped on its own, and faded into each other by one
// scroll bar. Every control stays enabled: the engine decides what a request means in the
// state its channel is in.
#pragma once

#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <array>

#include "demos/common/demo_window.h"

namespace orvan::fader {

class Form1 final : public demo::DemoWindow {
  Q_OBJECT

 public:
  explicit Form1(demo::MessageBoxHost& boxes,
                 demo::EngineFactory factory = demo::create_orvan_music);
  ~Form1() override;

  HRESULT load() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void choose_music(int channel, QLineEdit* text);
  void play(int channel);
  void stop(int channel);
  void thumb_dragged();
  void unload();
  template <typename Call>
  HRESULT call(int channel, Call&& engine_call);

  // Entry 0 is channel 1 (the "CH1" controls), entry 1 channel 2.
  std::array<demo::EngineRef, 2> channels_;
  bool moving_bar_ = false;

  QScrollBar* hscroll1_;
  QPushButton* command1_;  // "CH1"
  QPushButton* command2_;  // "CH2"
  QLineEdit* text1_;
  QLineEdit* text2_;
  QPushButton* command3_;  // "PlayCH1"
  QPushButton* command4_;  // "PlayCH2"
  QPushButton* command5_;  // "StopCH1"
  QPushButton* command6_;  // "StopCH2"
  QFileDialog* cmd1_;      // the open-file dialog
};

}  // namespace orvan::fader
