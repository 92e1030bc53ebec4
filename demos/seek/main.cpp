// Seek: plays media/Theme.mid beside the program's folder, shows its length and play
// position, and seeks by dragging a scroll bar.
#include <QApplication>

#include "demos/seek/seek_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Seek"));
  return orvan::demo::run_program([](orvan::demo::MessageBoxHost& boxes) {
    return std::make_unique<orvan::seek::Form1>(boxes);
  });
}
