#pragma once

namespace heartpage {
class EditorWindow;
}

// Shared between the editor windows and the editor registry only.
namespace heartpage::internal {

// The registry no longer hands out `editor` (it is going).
void ForgetEditor(const EditorWindow* editor);

}  // namespace heartpage::internal
