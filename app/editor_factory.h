#pragma once

#include <QWidget>

namespace heartpage {

// The editor window of style 1 ... 8 (FG1 ... FG8): a new top-level window
// without owner that deletes itself when closed.
QWidget* CreateEditor(int style);

}  // namespace heartpage
