#include "demos/common/demo_window.h"

#include <QApplication>
#include <QMessageBox>
#include <utility>

namespace orvan::demo {

DemoWindow::DemoWindow(MessageBoxHost& boxes, EngineFactory factory)
    : boxes_(boxes), factory_(std::move(factory)) {}

bool DemoWindow::succeeded(HRESULT hr, const char* operation) {
  if (SUCCEEDED(hr)) return true;
  boxes_.report_failure(QString::fromLatin1(operation), hr);
  return false;
}

LONG DemoWindow::native_handle() {
  // An X11 window id fits in 32 bits; the engine only keeps the number.
  return static_cast<LONG>(static_cast<quint32>(winId()));
}

int run_program(const WindowMaker& make_window) {
  MessageBoxHost boxes;
  ui::ScopedMessagePresenter presenter(std::make_shared<QueuedMessagePresenter>(&boxes));
  Apartment apartment;
  if (FAILED(apartment.status())) {
    QMessageBox::critical(nullptr, QApplication::applicationName(),
                          QStringLiteral("The component runtime could not be started.\n\n%1")
                              .arg(status_text(apartment.status())));
    return 1;
  }

  std::unique_ptr<DemoWindow> window = make_window(boxes);
  const HRESULT created = window->load();
  if (FAILED(created)) {
    // The window (and any channel it did make) goes after the box, so that the box is the
    // only one: an engine released now would say goodbye in a box of its own.
    QMessageBox::critical(nullptr, QApplication::applicationName(),
                          creation_failure_text(created, QApplication::applicationDirPath()));
    return 1;
  }

  // The program ends when the window has unloaded and the boxes that unloading raised (the
  // engine says goodbye when it is released) have been read.
  QApplication::setQuitOnLastWindowClosed(false);
  bool unloaded = false;
  auto quit_when_done = [&] {
    if (unloaded && boxes.outstanding() == 0) QApplication::quit();
  };
  QObject::connect(window.get(), &DemoWindow::unloaded, window.get(), [&] {
    unloaded = true;
    quit_when_done();
  });
  QObject::connect(&boxes, &MessageBoxHost::all_closed, &boxes, quit_when_done);
  window->show();
  const int status = QApplication::exec();
  window.reset();
  return status;
}

}  // namespace orvan::demo
