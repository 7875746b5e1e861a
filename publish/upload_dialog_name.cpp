// The upload dialog's name: typed, checked and confirmed, taken down or given up.
#include "publish/upload_dialog.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

#include "pages/holder.h"
#include "publish/receipt_news.h"
#include "publish/release_name.h"
#include "publish/take_down.h"
#include "publish/upload_dialog_parts.h"
#include "tasks/background.h"

namespace heartpage {

// The locked box shows the whole name: a long one in a smaller size.
void UploadDialog::SetName(const QString& name) {
  name_->setText(name);
  QFont font = QApplication::font();
  const int room = name_->width() - 8;
  for (double points = std::max(font.pointSizeF(), 9.0); points > 6; points -= 0.5) {
    font.setPointSizeF(points);
    if (QFontMetrics(font).horizontalAdvance(name) <= room) break;
  }
  name_->setFont(font);
  name_->setCursorPosition(0);
}

// A paste keeps what the name rule allows, whatever else the copied text
// held (a whole address, spaces around it).
void UploadDialog::PasteName(const QString& text) {
  name_->insert(upload_dialog::FilteredName(text));
}

// Nothing in the menu types a control character; its paste filters as the
// keys' does.
void UploadDialog::ShowNameMenu(const QPoint& global) {
  QMenu* menu = name_->createStandardContextMenu();
  menu->setObjectName(QStringLiteral("Text1Menu"));
  menu->setAttribute(Qt::WA_DeleteOnClose);
  // Known by the key it names; without it, the box's own paste still
  // passes the filter, only cut short to the box's length first.
  const QString paste_key = QKeySequence(QKeySequence::Paste).toString(QKeySequence::NativeText);
  for (QAction* action : menu->actions()) {
    if (action->menu() != nullptr) {
      menu->removeAction(action);
    } else if (action->text().section(QLatin1Char('\t'), 1) == paste_key) {
      action->setObjectName(QStringLiteral("edit-paste"));
      disconnect(action, &QAction::triggered, nullptr, nullptr);
      connect(action, &QAction::triggered, this,
              [this] { PasteName(QGuiApplication::clipboard()->text()); });
    }
  }
  menu->popup(global);
}

bool UploadDialog::eventFilter(QObject* watched, QEvent* event) {
  // A double click on "确认上传" is one click: its second press, which the
  // system sends before the double click itself, would otherwise start a
  // second upload once a quick first one is done.
  if (watched == confirm_) {
    if (event->type() == QEvent::MouseButtonDblClick) return true;
    if (event->type() != QEvent::MouseButtonPress) return false;
    const bool second =
        last_press_.isValid() && last_press_.elapsed() < QApplication::doubleClickInterval();
    last_press_.start();
    return second;
  }
  if (watched != name_) return QWidget::eventFilter(watched, event);
  if (event->type() == QEvent::InputMethod) return true;
  if (event->type() == QEvent::ContextMenu) {
    ShowNameMenu(static_cast<QContextMenuEvent*>(event)->globalPos());
    return true;
  }
  if (event->type() != QEvent::KeyPress) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  // Enter confirms, as clicking "确认上传" would.
  if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
    confirm_->click();
    return true;
  }
  if (key->matches(QKeySequence::Paste)) {
    PasteName(QGuiApplication::clipboard()->text());
    return true;
  }
  // Everything else is the box's own: editing keys as everywhere, and
  // characters through the name rule's filter.
  return false;
}

void UploadDialog::Confirm() {
  // The window answers while the upload waits for the server: a click
  // meanwhile starts nothing.
  if (Busy()) return;
  const std::string typed = name_->text().toStdString();
  const std::string name = PageNameKey(typed);
  // A name that is not ours yet is claimed for good: first the whole address
  // it gives, once per name. Empty and malformed names go on to be refused.
  if (name_->isEnabled() && IsValidPageName(name) && name != confirmed_name_)
    return CheckThenAsk(name, typed);
  Upload(typed);
}

void UploadDialog::CheckThenAsk(const std::string& name, const std::string& typed) {
  // Nobody is asked to confirm a name that the server would then refuse.
  doing_ = Doing::kCheckingName;
  ShowStatus(upload_text::kCheckingName, StatusKind::kProgress);
  setCursor(Qt::BusyCursor);
  RunInBackground(
      this,
      [name, services = services_]() -> NameCheck {
        try {
          return CheckName(name, services.machine_id(), services);
        } catch (const std::exception&) {
          return {false, false, std::string(upload_text::kNoMachineId)};
        }
      },
      [this, name, typed](const NameCheck& check) {
        doing_ = Doing::kNothing;
        unsetCursor();
        if (!check.free && !check.ours) {
          ShowStatus(check.status);
          name_->setFocus();
          return;
        }
        ShowStatus({});
        Ask(
            "NameConfirm", Q(upload_text::NameQuestion(name)), true,
            [this, name, typed, check] {
              confirmed_name_ = name;
              Upload(typed, check);
            },
            [this] { name_->setFocus(); });
      });
}

void UploadDialog::AskTakeDown() {
  if (Busy() || GGCT::Get().ZCYN.empty()) return;
  Ask("TakeDownConfirm", Q(upload_text::kTakeDownQuestion), false, [this] { TakeDownNow(); });
}

void UploadDialog::AskChangeName() {
  if (Busy() || GGCT::Get().ZCYN.empty()) return;
  Ask("ReleaseConfirm", Q(ReleaseQuestion(GGCT::Get().ZCYN)), false, [this] { ReleaseNow(); });
}

void UploadDialog::ActOnOwnedName(NameActOutcome (*act)(std::string_view, const UploadServices&),
                                  std::function<void()> done) {
  if (doing_ == Doing::kSending) return;
  doing_ = Doing::kSending;
  setCursor(Qt::BusyCursor);
  RunInBackground(
      this, [act, name = GGCT::Get().ZCYN, services = services_] { return act(name, services); },
      [this, done = std::move(done)](const NameActOutcome& outcome) {
        if (outcome.done) done();
        ShowStatus(outcome.status);
        Done();
      });
}

void UploadDialog::TakeDownNow() {
  // The page is gone; its address would open the notice that it was taken
  // down, so there is nothing to copy until a page is published again.
  ActOnOwnedName(TakeDown, [this] {
    ForgetPageOnline();
    RefreshSummary();
  });
}

void UploadDialog::ReleaseNow() {
  ActOnOwnedName(ReleaseName, [this] {
    // The old name stays in the box, selected, for a typo to be mended or
    // the whole replaced.
    GGCT::Get().ZCYN.clear();
    // What came back went with the name: the heart too forgets it.
    ReceiptNews::Get().Forget();
    confirmed_name_.clear();
    name_->setEnabled(true);
    ShowOwned(false);
    ForgetPageOnline();
    RefreshSummary();
    name_->setFocus();
    name_->selectAll();
  });
}

}  // namespace heartpage
