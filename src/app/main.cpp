// The program: one SSE client window, run until it is closed.
#include <QApplication>
#include <QFontDatabase>

#include "FSSEClient.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("SSE Client"));
  // The window is laid out for Tahoma; Debian ships a compatible face with Wine's fonts
  // (package fonts-wine), outside the system's font folders.
  if (!QFontDatabase::families().contains(QStringLiteral("Tahoma")))
    QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"));
  vyn::TForm16 form;
  form.show();
  return QApplication::exec();
}
