#include "editors/editors.h"

#include <QPointer>
#include <array>
#include <stdexcept>

#include "editors/editor_internal.h"
#include "editors/editor_window.h"
#include "pages/styles.h"

namespace heartpage {
namespace {

std::array<QPointer<EditorWindow>, kStyleCount>& Registry() {
  static std::array<QPointer<EditorWindow>, kStyleCount> editors;
  return editors;
}

std::size_t Slot(int style) {
  if (style < 1 || style > kStyleCount)
    throw std::out_of_range("no editor for style " + std::to_string(style));
  return static_cast<std::size_t>(style - 1);
}

}  // namespace

EditorWindow* CreateEditorWindow(int style, const ClientServices& services) {
  QPointer<EditorWindow>& open = Registry()[Slot(style)];
  open = new EditorWindow(style, services);
  return open;
}

EditorWindow* ShowEditor(int style, const ClientServices& services) {
  QPointer<EditorWindow>& editor = Registry()[Slot(style)];
  if (!editor) editor = CreateEditorWindow(style, services);
  editor->show();
  editor->raise();
  editor->activateWindow();
  return editor;
}

EditorWindow* OpenEditor(int style) {
  return Registry()[Slot(style)];
}

namespace internal {

void ForgetEditor(const EditorWindow* editor) {
  for (QPointer<EditorWindow>& open : Registry())
    if (open == editor) open = nullptr;
}

}  // namespace internal
}  // namespace heartpage
