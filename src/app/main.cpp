// The program: one SSE client window, run until it is closed.
#include <QApplication>

#include "FSSEClient.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("SSE Client"));
  vyn::TForm16 form;
  form.show();
  return QApplication::exec();
}
