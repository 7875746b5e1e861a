#pragma once

#include <QString>

// The copied address outlives the program, so that "copy, close, paste into
// the chat" works. Where the desktop runs a clipboard manager, Qt hands it
// the clipboard as the application object goes. Where there is none, a copy
// of this program keeps the address on the clipboard until something else is
// copied. One file per platform: on Windows the system keeps the clipboard's
// contents after the program ends.
namespace heartpage {

// The option that starts this program as the clipboard's keeper; the text
// follows it.
inline constexpr char kHoldClipboardOption[] = "--hold-clipboard";

// Called as the program ends, while the application object still exists.
void KeepClipboardAfterExit();

// The keeper's life: owns the clipboard with `text` until another program
// takes it (or the display goes). Returns the exit status.
int HoldClipboard(const QString& text);

}  // namespace heartpage
