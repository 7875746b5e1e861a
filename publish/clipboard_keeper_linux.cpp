#include <xcb/xcb.h>

#include <QtGui/qguiapplication_platform.h>
#include <QClipboard>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QProcess>
#include <QTimer>
#include <cstdlib>
#include <memory>

#include "publish/clipboard_keeper.h"

namespace heartpage {
namespace {

// Whether an X clipboard manager (the owner of CLIPBOARD_MANAGER) runs; Qt
// hands the clipboard to it by itself when the application goes.
bool ClipboardManagerRuns(xcb_connection_t* connection) {
  constexpr char kName[] = "CLIPBOARD_MANAGER";
  const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
      xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, sizeof kName - 1, kName),
                            nullptr),
      &std::free);
  if (!atom) return false;
  const std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
      xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom),
                                    nullptr),
      &std::free);
  return owner && owner->owner != XCB_NONE;
}

// How long the ending program waits for its keeper to take the clipboard.
constexpr int kHandOverMs = 3000;

}  // namespace

void KeepClipboardAfterExit() {
  auto* x11 =
      qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (x11 == nullptr || x11->connection() == nullptr) return;  // not on X
  QClipboard* clipboard = QGuiApplication::clipboard();
  const QString text = clipboard->text(QClipboard::Clipboard);
  if (!clipboard->ownsClipboard() || text.isEmpty()) return;
  if (ClipboardManagerRuns(x11->connection())) return;
  if (!QProcess::startDetached(QCoreApplication::applicationFilePath(),
                               {QString::fromLatin1(kHoldClipboardOption), text}))
    return;
  // Until the keeper owns it: a paste meanwhile still finds the address.
  QEventLoop wait;
  QObject::connect(clipboard, &QClipboard::changed, &wait, [&](QClipboard::Mode mode) {
    if (mode == QClipboard::Clipboard && !clipboard->ownsClipboard()) wait.quit();
  });
  QTimer::singleShot(kHandOverMs, &wait, &QEventLoop::quit);
  wait.exec();
}

int HoldClipboard(const QString& text) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  QObject::connect(clipboard, &QClipboard::changed, qApp, [clipboard](QClipboard::Mode mode) {
    if (mode == QClipboard::Clipboard && !clipboard->ownsClipboard()) QCoreApplication::quit();
  });
  clipboard->setText(text, QClipboard::Clipboard);
  return QCoreApplication::exec();
}

}  // namespace heartpage
