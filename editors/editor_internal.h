#pragma once

#include "preview/preview.h"

namespace heartpage {
class EditorWindow;
}

// Shared between the editor windows and the editor registry only.
namespace heartpage::internal {

// The preview hooks with every unset one filled in.
PreviewHooks ConfiguredPreviewHooks();

// The registry no longer hands out `editor` (it is going).
void ForgetEditor(const EditorWindow* editor);

}  // namespace heartpage::internal
