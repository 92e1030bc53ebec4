// What the window tests share: a throwaway registry with the recording engine registered
// under OrvanMusic's class identity, the log it writes, and the user's gestures on a scroll
// bar.
#pragma once

#include <QList>
#include <QMessageBox>
#include <QScrollBar>
#include <QStringList>
#include <QTemporaryDir>
#include <QWidget>
#include <cstddef>

#include "demos/tests/recording_engine/call_log.h"
#include "orvan/component_runtime.h"

namespace orvan::demo_test {

// Points this process's component runtime at a fresh, empty registry file. Must run before
// the first registry access of the process.
class ThrowawayRegistry {
 public:
  ThrowawayRegistry();
  bool valid() const { return dir_.isValid(); }

 private:
  QTemporaryDir dir_;
};

// Registers a server library through its own DllRegisterServer, in process (a test under
// ThreadSanitizer cannot start a helper process once it runs threads). Returns its status.
HRESULT register_server(const char* library_path);
// The recording engine, under OrvanMusic's class identity.
inline HRESULT register_recording_engine() {
  return register_server(ORVAN_RECORDING_SERVER);
}

// The log's lines since `mark`, as a list QCOMPARE prints in full.
QStringList calls_since(std::size_t mark);
QStringList all_calls();
CallLog& call_log();

// The user drags the thumb to `value`: the bar reports the drag as it does for a mouse.
void drag_thumb(QScrollBar* bar, int value);

// The widgets that take focus with the Tab key, in the order Tab visits them.
QStringList tab_order(QWidget* window);

// The message boxes on screen now, after the GUI thread has opened those asked for.
QList<QMessageBox*> visible_boxes();

// The line an engine's InitOrvanAudio call records for `window` at 48000 Hz.
QString init_call(int object, QWidget* window);

}  // namespace orvan::demo_test
