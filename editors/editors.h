#pragma once

#include <QWidget>

#include "publish/client_services.h"

// The eight style editors FG1 ... FG8 as the rest of the program sees them.
namespace heartpage {

class EditorWindow;

// A new editor window of style 1 ... 8 with its defaults, not yet shown:
// top-level, without owner, discarded when closed, reaching outside itself
// through `services`. It becomes the open editor of its style.
EditorWindow* CreateEditorWindow(int style, const ClientServices& services);

// Shows the editor of `style`, creating it on `services` when none is open:
// each editor exists at most once.
EditorWindow* ShowEditor(int style, const ClientServices& services);

// The open editor of `style`, or nullptr.
EditorWindow* OpenEditor(int style);

}  // namespace heartpage
