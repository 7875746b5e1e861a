#pragma once

#include <QWidget>

namespace heartpage {

// The editor window of style 1 ... 8 (FG1 ... FG8): a new top-level window
// without owner that deletes itself when closed. Until the editors exist it
// is a placeholder that names the editor.
QWidget* CreateEditor(int style);

}  // namespace heartpage
