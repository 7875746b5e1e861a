#include "publish/upload_dialog.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>

#include "controls/chinese_font.h"
#include "controls/twips.h"
#include "controls/window_placement.h"
#include "pages/holder.h"
#include "protocol/host.h"
#include "publish/address_code_panel.h"
#include "publish/page_summary_panel.h"
#include "publish/receipt_label.h"
#include "publish/receipt_news.h"
#include "publish/receipts.h"
#include "publish/release_name.h"
#include "publish/upload_dialog_parts.h"

namespace heartpage {
namespace {

using upload_dialog::AddButton;
using upload_dialog::kDesignedHeight;
using upload_dialog::kDesignedWidth;

QPointer<UploadDialog>& OpenDialog() {
  static QPointer<UploadDialog> dialog;
  return dialog;
}

// The two notes in red under the name: what is published, and the name's rule.
void AddNotes(QWidget* surface, const QFont& font) {
  for (const auto& [name, text, geometry] :
       {std::tuple{"Label1(1)", Q(NoteText()), PxRect(840, 1680, 5880, 210)},
        std::tuple{"Label1(2)", Q(upload_text::kNameRule), PxRect(1440, 2160, 5250, 210)}}) {
    QLabel* label = upload_dialog::AddLabel(surface, name, text, geometry, font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::red);
    label->setPalette(palette);
    upload_dialog::WidenToText(label, kDesignedWidth);
  }
}

// When the page online was stored, small and grey under the address's caption.
QLabel* AddStoredAt(QWidget* surface) {
  QLabel* stored_at =
      upload_dialog::AddLabel(surface, "StoredAt", QString(), PxRect(600, 3390, 2400, 210),
                              ChineseFont(ChineseFace::kHeiTi, 9));
  stored_at->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  QPalette grey = stored_at->palette();
  grey.setColor(QPalette::WindowText, QColor(0x60, 0x60, 0x60));
  stored_at->setPalette(grey);
  return stored_at;
}

QLabel* AddGateLabel(QWidget* surface, const QFont& font) {
  QLabel* gate =
      upload_dialog::AddLabel(surface, "PageGate", QString(), upload_dialog::kReceiptPlace, font);
  gate->setWordWrap(true);
  gate->setTextFormat(Qt::PlainText);
  QPalette ink = gate->palette();
  ink.setColor(QPalette::WindowText, QColor(0x20, 0x48, 0x98));
  gate->setPalette(ink);
  return gate;
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

  AddNotes(surface_, hei10);

  // The window's own type and size, not the small serif of the program's
  // default font: the status is what the user waits for.
  status_ = upload_dialog::AddLabel(surface_, "ts", QString(), PxRect(3720, 2640, 0, 0), hei12);

  address_caption_ = upload_dialog::AddLabel(surface_, "Label1(3)", Q(upload_text::kAddressCaption),
                                             PxRect(600, 3120, 2400, 240), hei12);
  address_caption_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  stored_at_ = AddStoredAt(surface_);

  address_ = upload_dialog::MakeAddressBox(surface_, hei12);
  // Under the address and its buttons, over what came back: what the
  // visitor meets before the page.
  gate_ = AddGateLabel(surface_, hei10);
  // Under the address and its buttons: what came back from the page.
  receipt_ = new ReceiptLabel(surface_);
  receipt_->setGeometry(upload_dialog::kReceiptPlace);
  connect(receipt_, &ReceiptLabel::Shown, this, &UploadDialog::Relayout);
  // Whoever learnt it, what came back decides what replacing the page does.
  connect(&ReceiptNews::Get(), &ReceiptNews::Changed, this, [this] {
    ShowGateOfReceipt();
    if (doing_ != Doing::kSending) RefreshSummary();
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
  code_panel_ = new AddressCodePanel(
      surface_, this, [this](std::string_view text, StatusKind kind) { ShowStatus(text, kind); });

  setTabOrder(name_, confirm_);
  setTabOrder(confirm_, copy_);
  setTabOrder(copy_, take_down_);
  setTabOrder(take_down_, change_name_);
  code_panel_->FollowInTabOrder(change_name_);
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

void UploadDialog::SetSource(PageSource source) {
  const bool switched = source_.build && source.style != source_.style;
  const bool again = static_cast<bool>(source_.build);
  source_ = std::move(source);
  built_.reset();
  RefreshSummary();
  if (switched && doing_ != Doing::kSending)
    ShowStatus("已换成" + StyleDisplayName(source_.style) + "的网页", StatusKind::kProgress);
  // Shown again from an editor: what came back meanwhile, asked now rather
  // than at the watch's next minute.
  const std::string& owned = GGCT::Get().ZCYN;
  if (again && !owned.empty() && page_online_ && doing_ != Doing::kSending && !receipt_->fetching())
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
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && doing_ != Doing::kSending)
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
  doing_ = Doing::kAsking;
  connect(box, &QMessageBox::finished, this,
          [this, yes = std::move(yes), no = std::move(no)](int answer) {
            doing_ = Doing::kNothing;
            if (answer == QMessageBox::Yes) {
              yes();
            } else if (no) {
              no();
            }
          });
  box->open();
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
  if (doing_ == Doing::kSending) {
    close_when_done_ = true;
  } else {
    deleteLater();
  }
}

bool UploadDialog::making_poster() const {
  return code_panel_->making_poster();
}

void UploadDialog::SaveQrCode() {
  code_panel_->SaveQrCode();
}

void UploadDialog::SavePoster() {
  code_panel_->SavePoster();
}

void UploadDialog::CopyPoster() {
  code_panel_->CopyPoster();
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
