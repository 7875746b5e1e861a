#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>

#include "publish/clipboard_keeper.h"

namespace heartpage {

// Windows keeps what was put on the clipboard after the program that put it
// there ends (Qt flushes its clipboard data object on exit): nothing to do.
void KeepClipboardAfterExit() {}

int HoldClipboard(const QString& text) {
  QGuiApplication::clipboard()->setText(text);
  return 0;
}

}  // namespace heartpage
