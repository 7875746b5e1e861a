#pragma once

#include <QWidget>

#include "preview/preview.h"

// The eight style editors FG1 ... FG8 as the rest of the program sees them.
namespace heartpage {

class EditorWindow;

// A new editor window of style 1 ... 8 with its defaults, not yet shown:
// top-level, without owner, discarded when closed. It becomes the open editor
// of its style.
EditorWindow* CreateEditorWindow(int style);

// Shows the editor of `style`, creating it when none is open: each editor
// exists at most once.
EditorWindow* ShowEditor(int style);

// The open editor of `style`, or nullptr.
EditorWindow* OpenEditor(int style);

// How the preview command opens, waits and where it writes. An unset hook
// keeps its default: the desktop opens the file, and a timer deletes it five
// seconds later. Tests set them so that no browser starts.
void SetPreviewHooks(PreviewHooks hooks);

}  // namespace heartpage
