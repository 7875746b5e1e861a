#include "publish/upload_dialog.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTextDocument>

#include "controls/chinese_font.h"
#include "controls/twips.h"
#include "controls/window_placement.h"
#include "pages/holder.h"
#include "protocol/host.h"
#include "publish/page_gate.h"
#include "publish/page_summary_panel.h"
#include "publish/poster.h"
#include "publish/receipt_label.h"
#include "publish/receipt_news.h"
#include "publish/receipts.h"
#include "publish/release_name.h"
#include "publish/take_down.h"
#include "publish/upload_dialog_parts.h"
#include "tasks/background.h"

namespace heartpage {
namespace {

// The page this program last published, and under which name: a dialog of
// later opens knows whether the editor still holds what is online.
struct Published {
  std::string name;
  BuiltPage page;
};
Published& LastPublished() {
  static Published published;
  return published;
}

using upload_dialog::kDesignedHeight;
using upload_dialog::kDesignedWidth;

QPointer<UploadDialog>& OpenDialog() {
  static QPointer<UploadDialog> dialog;
  return dialog;
}

QPushButton* AddButton(QWidget* parent, const char* name, const QString& text,
                       const QRect& geometry) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setAutoDefault(true);  // Enter presses the focused button
  button->setGeometry(geometry);
  return button;
}

}  // namespace

UploadDialog::UploadDialog(const ClientServices& services)
    : QWidget(nullptr), services_(UploadServicesOf(services)) {
  setObjectName(QStringLiteral("SCCT"));
  setWindowTitle(QStringLiteral("网页上传"));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  // Everything stands on a surface of the designed size, which scrolls
  // only where the screen is smaller than the dialog (a large scale).
  surface_ = new QWidget;
  scroll_ = ScrollInside(this, surface_, QSize(kDesignedWidth, kDesignedHeight));
  SetContentHeight(kDesignedHeight);

  const QFont hei12 = ChineseFont(ChineseFace::kHeiTi, 12);
  const QFont hei10 = ChineseFont(ChineseFace::kHeiTi, 10.5);

  summary_ = new PageSummaryPanel(surface_);
  summary_->ShowNothing();

  upload_dialog::AddLabel(surface_, "Label1(0)", QStringLiteral("请输入上传文件名："),
                          PxRect(600, 960, 2160, 240), hei12)
      ->adjustSize();

  name_ = new QLineEdit(surface_);
  name_->setObjectName(QStringLiteral("Text1"));
  name_->setGeometry(PxRect(2880, 960, 2535, 270));
  name_->setMaxLength(static_cast<int>(kMaxPageNameLength));
  // Names are ASCII: an input method has nothing to offer here. Whatever
  // arrives otherwise (a dropped text, a paste from the menu) passes the
  // name rule's filter.
  name_->setAttribute(Qt::WA_InputMethodEnabled, false);
  name_->setValidator(new upload_dialog::NameValidator(name_));
  name_->installEventFilter(this);

  confirm_ =
      AddButton(surface_, "Command1", QStringLiteral("确认上传"), PxRect(5640, 840, 1455, 495));
  confirm_->installEventFilter(this);
  connect(confirm_, &QPushButton::clicked, this, &UploadDialog::Confirm);

  for (const auto& [name, text, geometry] :
       {std::tuple{"Label1(1)", Q(NoteText()), PxRect(840, 1680, 5880, 210)},
        std::tuple{"Label1(2)", Q(upload_text::kNameRule), PxRect(1440, 2160, 5250, 210)}}) {
    QLabel* label = upload_dialog::AddLabel(surface_, name, text, geometry, hei10);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::red);
    label->setPalette(palette);
    upload_dialog::WidenToText(label, kDesignedWidth);
  }

  // The window's own type and size, not the small serif of the program's
  // default font: the status is what the user waits for.
  status_ = upload_dialog::AddLabel(surface_, "ts", QString(), PxRect(3720, 2640, 0, 0), hei12);

  address_caption_ = upload_dialog::AddLabel(surface_, "Label1(3)", Q(upload_text::kAddressCaption),
                                             PxRect(600, 3120, 2400, 240), hei12);
  address_caption_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  stored_at_ =
      upload_dialog::AddLabel(surface_, "StoredAt", QString(), PxRect(600, 3390, 2400, 210),
                              ChineseFont(ChineseFace::kHeiTi, 9));
  stored_at_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  QPalette grey = stored_at_->palette();
  grey.setColor(QPalette::WindowText, QColor(0x60, 0x60, 0x60));
  stored_at_->setPalette(grey);

  address_ = upload_dialog::MakeAddressBox(surface_, hei12);
  // Under the address and its buttons, over what came back: what the
  // visitor meets before the page.
  gate_ =
      upload_dialog::AddLabel(surface_, "PageGate", QString(), upload_dialog::kReceiptPlace, hei10);
  gate_->setWordWrap(true);
  gate_->setTextFormat(Qt::PlainText);
  QPalette ink = gate_->palette();
  ink.setColor(QPalette::WindowText, QColor(0x20, 0x48, 0x98));
  gate_->setPalette(ink);
  // Under the address and its buttons: what came back from the page.
  receipt_ = new ReceiptLabel(surface_);
  receipt_->setGeometry(upload_dialog::kReceiptPlace);
  connect(receipt_, &ReceiptLabel::Shown, this, &UploadDialog::Relayout);
  // Whoever learnt it, what came back decides what replacing the page does.
  connect(&ReceiptNews::Get(), &ReceiptNews::Changed, this, [this] {
    ShowGateOfReceipt();
    if (!uploading_) RefreshSummary();
  });

  copy_ =
      AddButton(surface_, "Command2", QStringLiteral("点击复制"), PxRect(5160, 3720, 2055, 495));
  connect(copy_, &QPushButton::clicked, this, &UploadDialog::Copy);

  // Bottom left, level with "点击复制", below the address line.
  take_down_ =
      AddButton(surface_, "Command3", QStringLiteral("撤下网页"), PxRect(600, 3720, 1455, 495));
  connect(take_down_, &QPushButton::clicked, this, &UploadDialog::AskTakeDown);
  change_name_ =
      AddButton(surface_, "Command4", Q(upload_text::kChangeName), PxRect(2160, 3720, 1455, 495));
  change_name_->setToolTip(Q(upload_text::kAnswersGoToo));
  connect(change_name_, &QPushButton::clicked, this, &UploadDialog::AskChangeName);

  // Below the designed controls, hidden until an upload succeeds: the code
  // on the left under the address's caption, its button under "点击复制".
  qr_ = new QLabel(surface_);
  qr_->setObjectName(QStringLiteral("QrCode"));
  qr_->hide();
  save_qr_ = AddButton(surface_, "SaveQrCode", QStringLiteral("保存二维码"), QRect());
  save_qr_->hide();
  connect(save_qr_, &QPushButton::clicked, this, &UploadDialog::SaveQrCode);
  save_poster_ = AddButton(surface_, "SavePoster", Q(poster_text::kSave), QRect());
  save_poster_->hide();
  connect(save_poster_, &QPushButton::clicked, this, &UploadDialog::SavePoster);
  copy_poster_ = AddButton(surface_, "CopyPoster", Q(poster_text::kCopy), QRect());
  copy_poster_->hide();
  connect(copy_poster_, &QPushButton::clicked, this, &UploadDialog::CopyPoster);

  setTabOrder(name_, confirm_);
  setTabOrder(confirm_, copy_);
  setTabOrder(copy_, take_down_);
  setTabOrder(take_down_, change_name_);
  setTabOrder(change_name_, save_qr_);
  setTabOrder(save_qr_, save_poster_);
  setTabOrder(save_poster_, copy_poster_);
  PlaceOnFirstShow(this);
  Load();
}

void UploadDialog::Load() {
  const std::string owned = GGCT::Get().ZCYN;
  SetName(Q(owned));
  // A machine that owns a name publishes under that one only; its page's
  // address is known, ready to copy.
  name_->setEnabled(owned.empty());
  ShowOwned(!owned.empty());
  // Until the server says otherwise, an owned name has its page.
  page_online_ = !owned.empty();
  if (!owned.empty()) {
    ShowCurrentPage(owned);
    FetchStoredAt(owned);
    ShowGateOfReceipt();
    receipt_->Fetch(owned, services_);
  }
}

void UploadDialog::ShowGateOfReceipt() {
  const ReceiptNews& news = ReceiptNews::Get();
  const std::string& owned = GGCT::Get().ZCYN;
  if (published_settings_ || owned.empty() || news.name() != owned || !news.receipt()) return;
  ShowGate(news.receipt()->opens, news.receipt()->has_code);
}

void UploadDialog::ShowGate(const std::string& opens_utc, bool has_code) {
  const std::vector<std::string> lines =
      GateLines(opens_utc, has_code, std::chrono::system_clock::now());
  QString text;
  if (!lines.empty()) text = QStringLiteral("TA打开时：");
  for (std::size_t i = 0; i < lines.size(); ++i)
    text += (i == 0 ? QString() : QStringLiteral(" · ")) + Q(lines[i]);
  if (text == gate_->text()) return;
  gate_->setText(text);
  Relayout();
}

void UploadDialog::SetSource(PageSource source) {
  const bool switched = source_.build && source.style != source_.style;
  const bool again = static_cast<bool>(source_.build);
  source_ = std::move(source);
  built_.reset();
  RefreshSummary();
  if (switched && !uploading_)
    ShowStatus("已换成" + StyleDisplayName(source_.style) + "的网页", StatusKind::kProgress);
  // Shown again from an editor: what came back meanwhile, asked now rather
  // than at the watch's next minute.
  const std::string& owned = GGCT::Get().ZCYN;
  if (again && !owned.empty() && page_online_ && !uploading_ && !receipt_->fetching())
    receipt_->Fetch(owned, services_);
}

std::optional<BuiltPage> UploadDialog::BuildNow() {
  if (source_.build) {
    if (std::optional<BuiltPage> built = source_.build()) built_ = std::move(built);
  }
  return built_;
}

void UploadDialog::RefreshSummary() {
  const std::optional<BuiltPage> built = BuildNow();
  if (!built) return summary_->ShowNothing();
  const std::string& owned = GGCT::Get().ZCYN;
  const bool replaces = !owned.empty() && page_online_;
  const ReceiptNews& news = ReceiptNews::Get();
  const std::string note = replaces && news.name() == owned && news.receipt()
                               ? ReplaceNote(*news.receipt())
                               : std::string();
  summary_->Show(source_.style, *built, replaces ? PageAddress(owned) : std::string(), note);
}

// Back from the editor, where the fields may have changed.
void UploadDialog::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && !uploading_)
    RefreshSummary();
}

void UploadDialog::ShowOwned(bool owned) {
  take_down_->setVisible(owned);
  change_name_->setVisible(owned);
}

void UploadDialog::Ask(const char* name, const QString& text, bool yes_by_default,
                       std::function<void()> yes, std::function<void()> no) {
  auto* box = new QMessageBox(QMessageBox::Question, windowTitle(), text,
                              QMessageBox::Yes | QMessageBox::No, this);
  box->setObjectName(QString::fromLatin1(name));
  box->setDefaultButton(yes_by_default ? QMessageBox::Yes : QMessageBox::No);
  box->setEscapeButton(QMessageBox::No);
  box->setAttribute(Qt::WA_DeleteOnClose);
  asking_ = true;
  connect(box, &QMessageBox::finished, this,
          [this, yes = std::move(yes), no = std::move(no)](int answer) {
            asking_ = false;
            if (answer == QMessageBox::Yes) {
              yes();
            } else if (no) {
              no();
            }
          });
  box->open();
}

void UploadDialog::AskTakeDown() {
  if (uploading_ || asking_ || GGCT::Get().ZCYN.empty()) return;
  Ask("TakeDownConfirm", Q(upload_text::kTakeDownQuestion), false, [this] { TakeDownNow(); });
}

void UploadDialog::AskChangeName() {
  if (uploading_ || asking_ || GGCT::Get().ZCYN.empty()) return;
  Ask("ReleaseConfirm", Q(ReleaseQuestion(GGCT::Get().ZCYN)), false, [this] { ReleaseNow(); });
}

void UploadDialog::TakeDownNow() {
  if (uploading_) return;
  uploading_ = true;
  setCursor(Qt::BusyCursor);
  RunInBackground(
      this, [name = GGCT::Get().ZCYN, services = services_] { return TakeDown(name, services); },
      [this](const NameActOutcome& outcome) {
        // The page is gone; its address would open the notice that it was
        // taken down, so there is nothing to copy until a page is published
        // again.
        if (outcome.done) {
          ForgetPageOnline();
          RefreshSummary();
        }
        ShowStatus(outcome.status);
        Done();
      });
}

void UploadDialog::ReleaseNow() {
  if (uploading_) return;
  uploading_ = true;
  setCursor(Qt::BusyCursor);
  RunInBackground(
      this, [name = GGCT::Get().ZCYN, services = services_] { return ReleaseName(name, services); },
      [this](const NameActOutcome& outcome) {
        if (outcome.done) {
          // The old name stays in the box, selected, for a typo to be
          // mended or the whole replaced.
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
        }
        ShowStatus(outcome.status);
        Done();
      });
}

void UploadDialog::Confirm() {
  // The window answers while the upload waits for the server: a click
  // meanwhile starts nothing.
  if (uploading_ || asking_) return;
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
  checking_name_ = true;
  asking_ = true;
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
        checking_name_ = false;
        asking_ = false;
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

void UploadDialog::Upload(const std::string& typed, std::optional<NameCheck> checked) {
  if (uploading_) return;
  // Built now from the editor's fields: what was typed since "上传网页" goes
  // too, and what another editor built meanwhile does not.
  const std::optional<BuiltPage> built = BuildNow();
  if (!built) return ShowStatus(upload_text::kNoPage);
  RefreshSummary();
  uploading_ = true;
  uploading_page_ = *built;
  ShowStatus(upload_text::kUploading);
  setCursor(Qt::BusyCursor);
  const bool locked = !name_->isEnabled();
  RunInBackground(
      this,
      [typed, locked, page = built->page, settings = built->settings, services = services_,
       checked] {
        return heartpage::Upload(typed, locked, page, services, checked ? &*checked : nullptr,
                                 settings);
      },
      [this, stored_before = locked ? server_stored_at_ : std::optional<std::string>("")](
          const UploadOutcome& outcome) {
        Finish(outcome);
        if (outcome.unanswered && !close_pending_)
          AskWhatIsOnline(outcome.name, stored_before, outcome.status);
      });
}

void UploadDialog::FetchOwnedPageThen(
    std::function<void(const std::optional<OwnedPage>& owned)> then) {
  RunInBackground(
      this,
      [services = services_]() -> std::optional<OwnedPage> {
        try {
          return FetchOwnedPage(services.machine_id(), services.post);
        } catch (const std::exception&) {
          return std::nullopt;
        }
      },
      std::move(then));
}

void UploadDialog::AskWhatIsOnline(const std::string& name,
                                   const std::optional<std::string>& stored_before,
                                   const std::string& failure) {
  verifying_ = true;
  FetchOwnedPageThen([this, name, stored_before, failure](const std::optional<OwnedPage>& owned) {
    verifying_ = false;
    // Not reached again, or the user has moved on: nothing more is known.
    if (!owned || uploading_ || asking_) return;
    if (owned->name != name) return ShowStatus(failure + std::string(upload_text::kNothingOnline));
    if (stored_before && !owned->stored_at.empty() && owned->stored_at != *stored_before) {
      // The store got there after all: this upload's page is online.
      Finish({true, name, std::string(upload_text::kUploaded), PageAddress(name), name, false});
      server_stored_at_ = owned->stored_at;
      return;
    }
    // The claim got there, or a page from before is online.
    GGCT::Get().ZCYN = name;
    name_->setEnabled(false);
    ShowOwned(true);
    server_stored_at_ = owned->stored_at;
    page_online_ = !owned->stored_at.empty();
    std::string said(upload_text::kNameKeptNoPage);
    if (page_online_) {
      ShowCurrentPage(name);
      ShowStoredAt(owned->stored_at);
      said = stored_before ? std::string(upload_text::kBeforeStillOnline)
                           : upload_text::OnlineSince(LocalTimeText(owned->stored_at));
    }
    RefreshSummary();
    ShowStatus(failure + said);
  });
}

void UploadDialog::Finish(const UploadOutcome& outcome) {
  if (outcome.uploaded) {
    page_online_ = true;
    published_page_ = uploading_page_;
    LastPublished() = {outcome.name, uploading_page_};
    SetName(Q(outcome.name));
    ShowAddress(Q(outcome.address));
    address_caption_->setText(Q(upload_text::kAddressCaption));
    ShowStoredAt(NowUtc());
    published_settings_ = uploading_page_.settings;
    ShowGate(published_settings_->opens, !published_settings_->code.empty());
    ShowQrCode(outcome.address, outcome.name);
    // The server's own time of this store is not known here.
    server_stored_at_.reset();
    NotePagePublished();
    // A dialog closed during its upload has nobody to show the receipt to.
    if (isVisible()) receipt_->Fetch(outcome.name, services_);
  } else if (!outcome.owned_name.empty() && page_online_) {
    // What is online is the page from before, not this upload's.
    ShowCurrentPage(outcome.owned_name);
  }
  // A name the server gives to another machine is no longer this one's: the
  // box opens for another.
  GGCT::Get().ZCYN = outcome.owned_name;
  name_->setEnabled(outcome.owned_name.empty());
  ShowOwned(!outcome.owned_name.empty());
  // Without a name owned there is no page of this machine's to show: in
  // particular no earlier address beside the failure as if it were its
  // outcome.
  if (outcome.owned_name.empty()) ForgetPageOnline();
  RefreshSummary();
  ShowStatus(outcome.status);
  Done();
  if (outcome.uploaded) FocusWhatEnterShouldDo();
}

void UploadDialog::FocusWhatEnterShouldDo() {
  const std::string& owned = GGCT::Get().ZCYN;
  const Published& last = LastPublished();
  const std::optional<BuiltPage> built = BuildNow();
  if (owned.empty() || !page_online_ || last.name != owned || !built) return;
  if (built->page == last.page.page && built->settings == last.page.settings) copy_->setFocus();
}

void UploadDialog::ForgetPageOnline() {
  page_online_ = false;
  address_caption_->setText(Q(upload_text::kAddressCaption));
  address_->clear();
  stored_at_->clear();
  server_stored_at_ = std::string();
  receipt_->Forget();
  published_settings_.reset();
  gate_->clear();
  HideQrCode();
}

void UploadDialog::Done() {
  uploading_ = false;
  unsetCursor();
  if (close_pending_) deleteLater();
}

void UploadDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

void UploadDialog::closeEvent(QCloseEvent* event) {
  event->accept();
  if (OpenDialog() == this) OpenDialog() = nullptr;
  // An upload that is waiting finishes first: its outcome still counts.
  if (uploading_) {
    close_pending_ = true;
  } else {
    deleteLater();
  }
}

UploadDialog* ShowUploadDialog(PageSource source, const ClientServices& services) {
  QPointer<UploadDialog>& dialog = OpenDialog();
  if (!dialog) dialog = new UploadDialog(services);
  dialog->SetSource(std::move(source));
  dialog->show();
  dialog->raise();
  dialog->activateWindow();
  dialog->FocusWhatEnterShouldDo();
  return dialog;
}

UploadDialog* OpenUploadDialog() {
  return OpenDialog();
}

}  // namespace heartpage
