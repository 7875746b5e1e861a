#include <QApplication>
#include <QIcon>

#include "app/main_window.h"
#include "controls/chinese_font.h"
#include "controls/qt_translations.h"
#include "net/form_post.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // The program ends when its main window is unloaded, not when the last
  // visible window happens to close (start-up's messages come before it).
  QApplication::setQuitOnLastWindowClosed(false);
  heartpage::InstallQtChineseTranslations();
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/heartpage/icon.ico")));
  QApplication::setFont(heartpage::ChineseFont(heartpage::ChineseFace::kSongTi, 9));
  // Requests wait with the event loop running, so that windows keep
  // painting and timers keep firing.
  heartpage::SetWaitHook([] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); });

  heartpage::MainWindow main_window;
  if (!main_window.Load()) return 0;
  main_window.show();
  return QApplication::exec();
}
