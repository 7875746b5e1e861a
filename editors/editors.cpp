#include "editors/editors.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <array>
#include <memory>
#include <stdexcept>
#include <utility>

#include "editors/editor_internal.h"
#include "editors/editor_window.h"
#include "pages/styles.h"

namespace heartpage {
namespace {

std::array<QPointer<EditorWindow>, kStyleCount>& Registry() {
  static std::array<QPointer<EditorWindow>, kStyleCount> editors;
  return editors;
}

PreviewHooks& Hooks() {
  static PreviewHooks hooks;
  return hooks;
}

// The preview's file goes from a timer: nothing waits for it, the window
// that previewed included. A program that ends first deletes it as it ends.
void Later(std::chrono::milliseconds duration, std::function<void()> then) {
  QCoreApplication* app = QCoreApplication::instance();
  auto* timer = new QTimer(app);
  timer->setSingleShot(true);
  auto pending = std::make_shared<std::function<void()>>(std::move(then));
  const auto run = [timer, pending] {
    if (const std::function<void()> once = std::exchange(*pending, nullptr)) once();
    timer->deleteLater();
  };
  QObject::connect(timer, &QTimer::timeout, timer, run);
  QObject::connect(app, &QCoreApplication::aboutToQuit, timer, run);
  timer->start(duration);
}

std::size_t Slot(int style) {
  if (style < 1 || style > kStyleCount)
    throw std::out_of_range("no editor for style " + std::to_string(style));
  return static_cast<std::size_t>(style - 1);
}

}  // namespace

EditorWindow* CreateEditorWindow(int style) {
  QPointer<EditorWindow>& open = Registry()[Slot(style)];
  open = new EditorWindow(style);
  return open;
}

EditorWindow* ShowEditor(int style) {
  QPointer<EditorWindow>& editor = Registry()[Slot(style)];
  if (!editor) editor = CreateEditorWindow(style);
  editor->show();
  editor->raise();
  editor->activateWindow();
  return editor;
}

EditorWindow* OpenEditor(int style) {
  return Registry()[Slot(style)];
}

void SetPreviewHooks(PreviewHooks hooks) {
  Hooks() = std::move(hooks);
}

namespace internal {

PreviewHooks ConfiguredPreviewHooks() {
  PreviewHooks hooks = Hooks();
  if (!hooks.wait) hooks.wait = Later;
  return hooks;
}

void ForgetEditor(const EditorWindow* editor) {
  for (QPointer<EditorWindow>& open : Registry())
    if (open == editor) open = nullptr;
}

}  // namespace internal
}  // namespace heartpage
