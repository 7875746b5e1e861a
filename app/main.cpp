#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <string_view>

#include "app/desktop_services.h"
#include "app/main_window.h"
#include "controls/chinese_font.h"
#include "controls/qt_translations.h"
#include "net/curl_library.h"
#include "preview/preview.h"
#include "publish/clipboard_keeper.h"

int main(int argc, char** argv) {
  // Before anything that needs a display.
  if (argc == 2 && std::string_view(argv[1]) == "--version") {
    std::puts("heartpage " HEARTPAGE_VERSION);
    return 0;
  }
  // Ready by start-up's first request, opened while the window is built.
  heartpage::OpenCurlInBackground();
  QApplication app(argc, argv);
  // Started by an ending copy of the program to keep the copied address.
  if (argc == 3 && std::string_view(argv[1]) == heartpage::kHoldClipboardOption)
    return heartpage::HoldClipboard(QString::fromLocal8Bit(argv[2]));
  // The program ends when its main window is unloaded, not when the last
  // visible window happens to close (start-up's messages come before it).
  QApplication::setQuitOnLastWindowClosed(false);
  heartpage::InstallQtChineseTranslations();
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/heartpage/icon.ico")));
  // The desktop entry's name, by which a Wayland desktop matches the window
  // to its menu entry and icon.
  QGuiApplication::setDesktopFileName(QStringLiteral(HEARTPAGE_APP_ID));
  QApplication::setFont(heartpage::ChineseFont(heartpage::ChineseFace::kSongTi, 9));
  // The one services object every window reaches the world through.
  heartpage::MainWindow main_window(heartpage::DesktopServices());
  bool shown = false;
  main_window.Load([&](bool show) {
    shown = show;
    if (show) {
      // This is the one instance now: what earlier runs kept is stale.
      heartpage::RemoveKeptPreviews(heartpage::PreviewDirectory());
      main_window.show();
      // The keyboard starts on the first tile, also where no window manager
      // hands the new window the focus.
      main_window.activateWindow();
    } else {
      QCoreApplication::exit(main_window.ExitStatus());
    }
  });
  const int status = QApplication::exec();
  if (shown) {
    heartpage::KeepClipboardAfterExit();
    heartpage::RemoveKeptPreviews(heartpage::PreviewDirectory());
  }
  return status;
}
