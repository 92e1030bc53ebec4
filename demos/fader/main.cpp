// Duvane: two engine channels, each playing a MIDI file the user picks, faded into each
// other with one scroll bar.
#include <QApplication>

#include "demos/fader/fader_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Duvane"));
  return orvan::demo::run_program([](orvan::demo::MessageBoxHost& boxes) {
    return std::make_unique<orvan::fader::Form1>(boxes);
  });
}
