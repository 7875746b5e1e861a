#include "app/editor_factory.h"

#include "editors/editor_window.h"
#include "editors/editors.h"

namespace heartpage {

QWidget* CreateEditor(int style) {
  return CreateEditorWindow(style);
}

}  // namespace heartpage
