// The editor window's drafts and limits: what is typed is kept as the
// style's draft, comes back when the window opens again, and "恢复默认"
// brings back the defaults.
#include <QAction>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBoundaryFinder>
#include <QTimer>
#include <QValidator>
#include <memory>

#include "editors/draft_store.h"
#include "editors/editor_window.h"
#include "editors/media_picker.h"
#include "pages/layout.h"
#include "pages/question.h"
#include "pages/styles.h"
#include "publish/page_gate.h"

namespace heartpage {
namespace {

// Long enough that a burst of typing is one write, short enough that a crash
// loses a moment's typing at most; typing without a pause is saved as it
// goes, every few seconds.
constexpr int kDraftDelayMs = 500;
constexpr int kLongestUnsavedMs = 5000;

int Characters(const QString& text) {
  QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
  int count = 0;
  while (finder.toNextBoundary() >= 0) ++count;
  return count;
}

// Boxes that share one short name between them: the page lays the name out
// for so many characters, and one more breaks the picture it draws. Counts
// characters as they are seen, a face or a flag being one.
class SharedLimit : public QValidator {
 public:
  SharedLimit(int limit, std::vector<QLineEdit*> others, QObject* parent)
      : QValidator(parent), limit_(limit), others_(std::move(others)) {}

  State validate(QString& input, int&) const override {
    int used = Characters(input);
    for (const QLineEdit* other : others_) used += Characters(other->text());
    return used <= limit_ ? Acceptable : Invalid;
  }

 private:
  int limit_;
  std::vector<QLineEdit*> others_;
};

QString WithoutCr(const std::string& text) {
  QString out = QString::fromStdString(text);
  out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return out;
}

}  // namespace

EditorWindow::~EditorWindow() {
  // A window deleted without being closed (the program ending) keeps its
  // edits too.
  SaveDraftNow();
}

void EditorWindow::Watch() {
  draft_timer_ = new QTimer(this);
  draft_timer_->setSingleShot(true);
  draft_timer_->setInterval(kDraftDelayMs);
  connect(draft_timer_, &QTimer::timeout, this, &EditorWindow::SaveDraftNow);

  restore_ = new QAction(QStringLiteral("恢复默认"), this);
  restore_->setObjectName(QStringLiteral("RestoreDefaults"));
  connect(restore_, &QAction::triggered, this, &EditorWindow::RestoreDefaults);
  // On the window and on whatever stands on it without a menu of its own.
  addAction(restore_);
  setContextMenuPolicy(Qt::ActionsContextMenu);

  for (const auto& [name, box] : boxes_) {
    box->setContextMenuPolicy(Qt::CustomContextMenu);
    if (auto* line = qobject_cast<QLineEdit*>(box)) {
      connect(line, &QLineEdit::textChanged, this, &EditorWindow::FieldChanged);
      connect(line, &QWidget::customContextMenuRequested, this, [this, line](const QPoint& at) {
        std::unique_ptr<QMenu> menu(line->createStandardContextMenu());
        menu->addSeparator();
        menu->addAction(restore_);
        menu->exec(line->mapToGlobal(at));
      });
    } else if (auto* text = qobject_cast<QPlainTextEdit*>(box)) {
      connect(text, &QPlainTextEdit::textChanged, this, &EditorWindow::FieldChanged);
      connect(text, &QWidget::customContextMenuRequested, this, [this, text](const QPoint& at) {
        std::unique_ptr<QMenu> menu(text->createStandardContextMenu(at));
        menu->addSeparator();
        menu->addAction(restore_);
        menu->exec(text->mapToGlobal(at));
      });
    }
  }
  if (check_ != nullptr) connect(check_, &QCheckBox::toggled, this, &EditorWindow::FieldChanged);
  connect(opens_set_, &QCheckBox::toggled, this, &EditorWindow::FieldChanged);
  connect(opens_, &QDateTimeEdit::dateTimeChanged, this, &EditorWindow::FieldChanged);

  // A double click is one press, not two: its second press would start the
  // command again as soon as the first one's check has answered.
  for (QPushButton* command : commands_) command->installEventFilter(this);

  const std::vector<int>& shared = GetLayout(style_).two_characters;
  const std::string array = GetStyle(style_).rows.front().control;
  std::vector<QLineEdit*> named;
  for (const int index : shared)
    named.push_back(qobject_cast<QLineEdit*>(boxes_.at(array + "(" + std::to_string(index) + ")")));
  for (QLineEdit* box : named) {
    std::vector<QLineEdit*> others;
    for (QLineEdit* other : named)
      if (other != box) others.push_back(other);
    box->setValidator(new SharedLimit(2, std::move(others), box));
  }
}

void EditorWindow::FieldChanged() {
  if (filling_) return;
  if (!unsaved_) unsaved_since_.start();
  unsaved_ = true;
  if (unsaved_since_.elapsed() >= kLongestUnsavedMs) {
    SaveDraftNow();
  } else {
    draft_timer_->start();
  }
}

void EditorWindow::RestoreDraft() {
  const std::optional<Draft> draft = LoadDraft(DraftFolder(), style_);
  if (!draft) return;
  filling_ = true;
  for (const auto& [name, value] : draft->fields) {
    if (name == gate::kOpensField) ShowOpens(value);
    const auto box = boxes_.find(name);
    if (box == boxes_.end()) continue;  // a field this version no longer has
    if (auto* line = qobject_cast<QLineEdit*>(box->second)) {
      line->setText(Shown(name, value));
      line->setCursorPosition(0);
    } else if (auto* text = qobject_cast<QPlainTextEdit*>(box->second)) {
      text->setPlainText(WithoutCr(value));
    }
  }
  if (check_ != nullptr) check_->setChecked(draft->checked);
  for (const auto& [name, path] : draft->files) {
    const FieldRow* row = FindField(GetStyle(style_), name);
    const auto box = boxes_.find(name);
    auto* line = box == boxes_.end() ? nullptr : qobject_cast<QLineEdit*>(box->second);
    if (row != nullptr && line != nullptr && !line->text().isEmpty())
      ShowChosenFile(line, row->kind, QString::fromStdString(path));
  }
  filling_ = false;
}

void EditorWindow::SaveDraftNow() {
  if (draft_timer_ != nullptr) draft_timer_->stop();
  if (!unsaved_) return;
  // Only what differs from the defaults: a field left alone follows the
  // defaults of whichever version of the program opens it.
  Draft draft;
  for (const FieldRow& row : GetStyle(style_).rows) {
    std::string value = Value(row.Name());
    if (value != row.DefaultValue()) draft.fields.emplace(row.Name(), std::move(value));
  }
  for (const auto& [field, standard] : question::kDefaults) {
    std::string value = Value(field);
    if (value != standard) draft.fields.emplace(field, std::move(value));
  }
  for (const std::string_view field : gate::kFields)
    if (std::string value = Value(field); !value.empty())
      draft.fields.emplace(field, std::move(value));
  draft.checked = Checked();
  for (const auto& [name, box] : boxes_)
    if (const auto* line = qobject_cast<const QLineEdit*>(box); line != nullptr)
      if (const QString file = ChosenFile(line); !file.isEmpty())
        draft.files.emplace(name, file.toStdString());
  // Kept unsaved on failure: a later change tries again, not every key.
  if (SaveDraft(DraftFolder(), style_, draft)) {
    unsaved_ = false;
  } else {
    unsaved_since_.start();
  }
}

void EditorWindow::RestoreDefaults() {
  QMessageBox box(QMessageBox::Question, QStringLiteral("恢复默认"),
                  QStringLiteral("所有栏目将换回示例内容，您填写的内容不再保留。要恢复默认吗？"),
                  QMessageBox::NoButton, this);
  box.setObjectName(QStringLiteral("RestoreQuestion"));
  QPushButton* restore = box.addButton(QStringLiteral("恢复默认"), QMessageBox::DestructiveRole);
  QPushButton* keep = box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
  // Keeping one's work is the answer to a stray Enter.
  box.setDefaultButton(keep);
  box.setEscapeButton(keep);
  box.exec();
  if (box.clickedButton() != restore) return;
  draft_timer_->stop();
  FillDefaults();
  unsaved_ = false;
  // A draft that cannot go is overwritten by the defaults instead, so that
  // it does not come back.
  if (!RemoveDraft(DraftFolder(), style_)) {
    unsaved_ = true;
    SaveDraftNow();
  }
}

}  // namespace heartpage
