// The one window of a demonstration program, and the program around it.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "demos/common/engine_binding.h"
#include "demos/common/message_boxes.h"

namespace orvan::demo {

class DemoWindow : public QWidget {
  Q_OBJECT

 public:
  DemoWindow(MessageBoxHost& boxes, EngineFactory factory);

  // The window's load handler. Returns a failure only when an engine object could not be
  // created; a failed engine call is reported in a box and the window carries on.
  virtual HRESULT load() = 0;

 signals:
  // The unload handler has run: the window has let go of its engine objects.
  void unloaded();

 protected:
  // Reports a failed engine call; true when `hr` is a success and the handler may go on.
  bool succeeded(HRESULT hr, const char* operation);
  HRESULT create_engine(EngineRef& out) { return factory_(out); }
  // The native handle the engine is initialised for, as the 32-bit number it takes.
  LONG native_handle();

 private:
  MessageBoxHost& boxes_;
  EngineFactory factory_;
};

using WindowMaker = std::function<std::unique_ptr<DemoWindow>(MessageBoxHost&)>;

// Runs a program whose QApplication exists: joins an apartment, shows the engine's boxes
// through `boxes`'s presenter, makes and loads the window and runs until the window has
// unloaded and every box is closed. When the engine object cannot be made it says so in one
// box and returns 1.
int run_program(const WindowMaker& make_window);

}  // namespace orvan::demo
