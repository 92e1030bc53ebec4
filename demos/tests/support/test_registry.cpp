#include "demos/tests/support/test_registry.h"

#include <dlfcn.h>

#include <QApplication>
#include <QCoreApplication>

namespace orvan::demo_test {

ThrowawayRegistry::ThrowawayRegistry() {
  if (dir_.isValid())
    qputenv("ORVAN_REGISTRY", dir_.filePath(QStringLiteral("registry.sqlite3")).toUtf8());
}

HRESULT register_server(const char* library_path) {
  // Stays loaded for the process: the runtime loads the same library again for its objects.
  void* library = dlopen(library_path, RTLD_NOW | RTLD_LOCAL);
  if (!library) return CO_E_DLLNOTFOUND;
  auto* register_server = reinterpret_cast<LPFNREGISTERSERVER>(dlsym(library, "DllRegisterServer"));
  if (!register_server) return CO_E_ERRORINDLL;
  return register_server();
}

CallLog& call_log() {
  return CallLog::instance();
}

QStringList calls_since(std::size_t mark) {
  QStringList calls;
  for (const std::string& line : call_log().lines_since(mark))
    calls << QString::fromStdString(line);
  return calls;
}

QStringList all_calls() {
  return calls_since(0);
}

void drag_thumb(QScrollBar* bar, int value) {
  bar->setSliderDown(true);
  bar->setSliderPosition(value);
  bar->setSliderDown(false);
}

QStringList tab_order(QWidget* window) {
  QStringList names;
  QWidget* widget = window->nextInFocusChain();
  while (widget && widget != window) {
    if (widget->focusPolicy() & Qt::TabFocus) names << widget->objectName();
    widget = widget->nextInFocusChain();
  }
  return names;
}

QList<QMessageBox*> visible_boxes() {
  QCoreApplication::processEvents();
  QList<QMessageBox*> boxes;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(widget);
    if (box && box->isVisible()) boxes << box;
  }
  return boxes;
}

QString init_call(int object, QWidget* window) {
  const auto handle = static_cast<LONG>(static_cast<quint32>(window->winId()));
  return QStringLiteral("%1.InitOrvanAudio(%2,48000)").arg(object).arg(handle);
}

}  // namespace orvan::demo_test
