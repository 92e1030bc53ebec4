// beat_window: plays a piece on the sound device and shows its bar and beat in a window, as
// the engine's events tell them, with the last marker passed. Register the component first:
// orvan-regsvr libTovel.so
//
//   beat_window [FILE]      (default: media/Theme.mid beside the program's folder)
#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

#include "examples/beat_window/beat_window.h"

namespace {

// Automation strings are UTF-16, as QString is.
BSTR automation_string(const QString& text) {
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.utf16()),
                           static_cast<UINT>(text.size()));
}

int fail(const QString& what, HRESULT hr) {
  QMessageBox::critical(
      nullptr, QApplication::applicationName(),
      QStringLiteral("%1: 0x%2").arg(what).arg(static_cast<unsigned>(hr), 8, 16, QLatin1Char('0')));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Beat window"));
  const QStringList arguments = QApplication::arguments();
  const QString file = arguments.size() > 1
                           ? arguments[1]
                           : QApplication::applicationDirPath() + "/../media/Theme.mid";

  // This thread's apartment: the events come here, and nowhere else.
  if (FAILED(CoInitialize(nullptr))) return 1;
  int status = 0;
  {
    _OrvanMusic2* music = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_OrvanMusic, nullptr, CLSCTX_INPROC_SERVER, IID__OrvanMusic2,
                                  reinterpret_cast<void**>(&music));
    if (FAILED(hr)) {
      status = fail(QStringLiteral("Cannot create OrvanMusic (is libTovel.so registered?)"), hr);
    } else {
      LONG hwnd = 0, rate = 48000, once = 0;
      hr = music->InitOrvanAudio(&hwnd, &rate);
      if (FAILED(hr)) {
        status = fail(QStringLiteral("Cannot open the sound device"), hr);
      } else {
        // Listening before the play starts, so that its first beat is heard too.
        orvan::examples::BeatWindow window(music, rate, QFileInfo(file).fileName());
        BSTR name = automation_string(file);
        hr = window.status();
        if (SUCCEEDED(hr)) hr = music->Music_Load(&name);
        if (SUCCEEDED(hr)) hr = music->Music_Play(&once);
        SysFreeString(name);
        if (FAILED(hr)) {
          status = fail(QStringLiteral("Cannot play %1").arg(file), hr);
        } else {
          window.show();
          status = QApplication::exec();
        }
      }
      music->CleanupAudio();
    }
    if (music) music->Release();
  }
  CoUninitialize();
  return status;
}
