#include "publish/upload_dialog.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTextDocument>
#include <QTextLayout>

#include "controls/background.h"
#include "controls/chinese_font.h"
#include "controls/twips.h"
#include "controls/window_placement.h"
#include "machine/disk_serial.h"
#include "pages/holder.h"
#include "protocol/host.h"
#include "publish/qr_image.h"
#include "publish/take_down.h"

namespace heartpage {
namespace {

// The designed client area; the QR code, once there, goes below it.
constexpr int kDesignedWidth = Px(7845);
constexpr int kDesignedHeight = Px(4725);
// About this many pixels square, quiet zone included: large enough for a
// phone held at arm's length to read off the screen.
constexpr int kQrPixels = 176;

QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

UploadServices& ConfiguredServices() {
  static UploadServices services = DefaultUploadServices();
  return services;
}

QPointer<UploadDialog>& OpenDialog() {
  static QPointer<UploadDialog> dialog;
  return dialog;
}

QLabel* AddLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry,
                 const QFont& font) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setFont(font);
  label->setAlignment(Qt::AlignCenter);
  label->setGeometry(geometry);
  return label;
}

// A centred label whose text is wider than its place grows on both sides,
// within the window, rather than losing its ends.
void WidenToText(QLabel* label, int window_width) {
  const QSize wanted = label->sizeHint();
  QRect geometry = label->geometry();
  if (wanted.height() > geometry.height()) geometry.setHeight(wanted.height());
  if (wanted.width() > geometry.width()) {
    const int centre = geometry.center().x();
    const int width = std::min(wanted.width(), window_width);
    geometry.setLeft(std::clamp(centre - width / 2, 0, window_width - width));
    geometry.setWidth(width);
  }
  label->setGeometry(geometry);
}

}  // namespace

UploadDialog::UploadDialog(UploadServices services)
    : QWidget(nullptr), services_(std::move(services)) {
  setObjectName(QStringLiteral("SCCT"));
  setWindowTitle(QStringLiteral("网页上传"));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(kDesignedWidth, kDesignedHeight);

  const QFont hei12 = ChineseFont(ChineseFace::kHeiTi, 12);
  const QFont hei10 = ChineseFont(ChineseFace::kHeiTi, 10.5);

  QLabel* prompt = AddLabel(this, "Label1(0)", QStringLiteral("请输入上传文件名："),
                            PxRect(600, 960, 2160, 240), hei12);
  prompt->adjustSize();

  name_ = new QLineEdit(this);
  name_->setObjectName(QStringLiteral("Text1"));
  name_->setGeometry(PxRect(2880, 960, 2535, 270));
  name_->setMaxLength(static_cast<int>(kMaxPageNameLength));
  // Names are ASCII: an input method has nothing to offer here.
  name_->setAttribute(Qt::WA_InputMethodEnabled, false);
  name_->installEventFilter(this);

  auto* confirm = new QPushButton(QStringLiteral("确认上传"), this);
  confirm_ = confirm;
  confirm->setObjectName(QStringLiteral("Command1"));
  confirm->setAutoDefault(true);  // Enter presses the focused button
  confirm->setGeometry(PxRect(5640, 840, 1455, 495));
  connect(confirm, &QPushButton::clicked, this, &UploadDialog::Confirm);

  for (const auto& [name, text, geometry] :
       {std::tuple{"Label1(1)", Q(NoteText()), PxRect(840, 1680, 5880, 210)},
        std::tuple{"Label1(2)", Q(upload_text::kNameRule), PxRect(1440, 2160, 5250, 210)}}) {
    QLabel* label = AddLabel(this, name, text, geometry, hei10);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::red);
    label->setPalette(palette);
    WidenToText(label, width());
  }

  // The window's own type and size, not the small serif of the program's
  // default font: the status is what the user waits for.
  status_ = AddLabel(this, "ts", QString(), PxRect(3720, 2640, 0, 0), hei12);

  QLabel* address_label = AddLabel(this, "Label1(3)", QStringLiteral("您的专属页面网址为："),
                                   PxRect(600, 3120, 2400, 240), hei12);
  address_label->adjustSize();

  address_ = new QPlainTextEdit(this);
  address_->setObjectName(QStringLiteral("Text3"));
  address_->setGeometry(PxRect(3000, 3000, 4215, 495));
  address_->setFont(hei12);
  // Shown for copying, not for editing: what is copied is what was published.
  address_->setReadOnly(true);
  address_->setWordWrapMode(QTextOption::WrapAnywhere);
  address_->document()->setDocumentMargin(1);
  address_->setFocusPolicy(Qt::ClickFocus);
  address_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  address_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QPalette palette = address_->palette();
  palette.setColor(QPalette::Base, QColor(0xE0, 0xE0, 0xE0));
  address_->setPalette(palette);

  auto* copy = new QPushButton(QStringLiteral("点击复制"), this);
  copy->setObjectName(QStringLiteral("Command2"));
  copy->setAutoDefault(true);
  copy->setGeometry(PxRect(5160, 3720, 2055, 495));
  connect(copy, &QPushButton::clicked, this, &UploadDialog::Copy);

  // Bottom left, level with "点击复制", below the address line.
  take_down_ = new QPushButton(QStringLiteral("撤下网页"), this);
  take_down_->setObjectName(QStringLiteral("Command3"));
  take_down_->setAutoDefault(true);
  take_down_->setGeometry(PxRect(600, 3720, 1455, 495));
  connect(take_down_, &QPushButton::clicked, this, &UploadDialog::AskTakeDown);

  // Below the designed controls, hidden until an upload succeeds: the code
  // on the left under the address's caption, its button under "点击复制".
  qr_ = new QLabel(this);
  qr_->setObjectName(QStringLiteral("QrCode"));
  qr_->hide();
  save_qr_ = new QPushButton(QStringLiteral("保存二维码"), this);
  save_qr_->setObjectName(QStringLiteral("SaveQrCode"));
  save_qr_->setAutoDefault(true);
  save_qr_->hide();
  connect(save_qr_, &QPushButton::clicked, this, &UploadDialog::SaveQrCode);

  setTabOrder(name_, confirm);
  setTabOrder(confirm, copy);
  setTabOrder(copy, take_down_);
  setTabOrder(take_down_, save_qr_);
  PlaceOnFirstShow(this);
  Load();
}

void UploadDialog::Load() {
  const std::string& owned = GGCT::Get().ZCYN;
  SetName(Q(owned));
  // A machine that owns a name publishes under that one only; its page's
  // address is known, ready to copy.
  name_->setEnabled(owned.empty());
  ShowOwned(!owned.empty());
  if (!owned.empty()) ShowAddress(Q(PageAddress(owned)));
}

void UploadDialog::ShowOwned(bool owned) {
  take_down_->setVisible(owned);
}

void UploadDialog::AskTakeDown() {
  if (uploading_ || GGCT::Get().ZCYN.empty()) return;
  auto* box =
      new QMessageBox(QMessageBox::Question, windowTitle(), Q(upload_text::kTakeDownQuestion),
                      QMessageBox::Yes | QMessageBox::No, this);
  box->setObjectName(QStringLiteral("TakeDownConfirm"));
  box->setDefaultButton(QMessageBox::No);
  box->setAttribute(Qt::WA_DeleteOnClose);
  connect(box, &QMessageBox::finished, this, [this](int answer) {
    if (answer == QMessageBox::Yes) TakeDownNow();
  });
  box->open();
}

void UploadDialog::TakeDownNow() {
  if (uploading_) return;
  uploading_ = true;
  setCursor(Qt::BusyCursor);
  RunInBackground(
      this, [name = GGCT::Get().ZCYN, services = services_] { return TakeDown(name, services); },
      [this](const TakeDownOutcome& outcome) {
        uploading_ = false;
        unsetCursor();
        // The page is gone; its address would open the notice that it was
        // taken down, so there is nothing to copy until a page is published
        // again.
        if (outcome.taken_down) {
          address_->clear();
          HideQrCode();
        }
        ShowStatus(outcome.status);
        if (close_pending_) deleteLater();
      });
}

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

// The name box refuses the copy and paste keys (they are characters it does
// not take), so its menu offers the commands without naming those keys, and
// nothing that would type a control character.
void UploadDialog::ShowNameMenu(const QPoint& global) {
  QMenu* menu = name_->createStandardContextMenu();
  menu->setObjectName(QStringLiteral("Text1Menu"));
  menu->setAttribute(Qt::WA_DeleteOnClose);
  for (QAction* action : menu->actions()) {
    if (action->menu() != nullptr) {
      menu->removeAction(action);
      continue;
    }
    QString text = action->text();
    const qsizetype tab = text.indexOf(QLatin1Char('\t'));
    if (tab >= 0) action->setText(text.left(tab));
    action->setShortcut(QKeySequence());
  }
  menu->popup(global);
}

bool UploadDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched != name_) return QWidget::eventFilter(watched, event);
  if (event->type() == QEvent::InputMethod) return true;
  if (event->type() == QEvent::ContextMenu) {
    ShowNameMenu(static_cast<QContextMenuEvent*>(event)->globalPos());
    return true;
  }
  if (event->type() != QEvent::KeyPress) return false;
  const auto* key = static_cast<QKeyEvent*>(event);
  // Tab moves on; Enter confirms, as clicking "确认上传" would.
  if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) return false;
  if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
    confirm_->click();
    return true;
  }
  const QString text = key->text();
  // Keys without a character (arrows, Home, Delete) move and delete as usual.
  if (text.isEmpty() || key->key() == Qt::Key_Delete) return false;
  if (text.size() != 1) return true;
  const int code = text.at(0).unicode();
  const int passed = FilterNameKey(code);
  if (passed == 0) return true;
  if (passed != code) {
    name_->insert(QString(QChar(passed)));
    return true;
  }
  return false;
}

void UploadDialog::Confirm() {
  // The window answers while the upload waits for the server: a click
  // meanwhile starts nothing.
  if (uploading_) return;
  uploading_ = true;
  ShowStatus(upload_text::kUploading);
  setCursor(Qt::BusyCursor);
  // Copies: a preview meanwhile rewrites FGN.
  RunInBackground(
      this,
      [name = name_->text().toStdString(), locked = !name_->isEnabled(), page = GGCT::Get().FGN,
       services = services_] { return Upload(name, locked, page, services); },
      [this](const UploadOutcome& outcome) { Finish(outcome); });
}

void UploadDialog::Finish(const UploadOutcome& outcome) {
  uploading_ = false;
  unsetCursor();

  if (outcome.uploaded) {
    SetName(Q(outcome.name));
    ShowAddress(Q(outcome.address));
    ShowQrCode(outcome.address, outcome.name);
  }
  // A name the server gives to another machine is no longer this one's: the
  // box opens for another.
  GGCT::Get().ZCYN = outcome.owned_name;
  name_->setEnabled(outcome.owned_name.empty());
  ShowOwned(!outcome.owned_name.empty());
  // A name found to be another machine's has no address of this machine.
  if (outcome.owned_name.empty()) {
    address_->clear();
    HideQrCode();
  }
  ShowStatus(outcome.status);
  if (close_pending_) deleteLater();
}

// A long host and name do not fit the box in its designed font: the address
// wraps over two lines first, the box growing towards the copy button if two
// lines need it, and only then the font shrinks.
void UploadDialog::ShowAddress(const QString& address) {
  const QRect designed = PxRect(3000, 3000, 4215, 495);
  const int room_below = PxRect(5160, 3720, 0, 0).top() - 4;  // above "点击复制"
  // From the frame, not the viewport: the dialog may not have been shown yet.
  const int chrome =
      2 * address_->frameWidth() + 2 * static_cast<int>(address_->document()->documentMargin());
  const int width = designed.width() - chrome;
  QFont font = address_->font();
  int height = designed.height();
  for (double points = 12; points >= 6; points -= 0.5) {
    font.setPointSizeF(points);
    const QFontMetrics metrics(font);
    QTextLayout layout(address, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    int lines = 0;
    while (true) {
      QTextLine line = layout.createLine();
      if (!line.isValid()) break;
      line.setLineWidth(width);
      ++lines;
    }
    layout.endLayout();
    // A line of the box takes a pixel more than the font's spacing, rounded.
    const int needed = lines * (metrics.lineSpacing() + 1) + chrome + 1;
    if (lines == 1 && needed <= designed.height()) break;
    if (lines <= 2 && needed <= room_below - designed.top()) {
      height = std::max(designed.height(), needed);
      break;
    }
  }
  address_->setGeometry(designed.left(), designed.top(), designed.width(), height);
  address_->setFont(font);
  address_->setPlainText(address);
}

// The window grows downwards to make room; nothing designed moves.
void UploadDialog::ShowQrCode(const std::string& address, const std::string& name) {
  const std::optional<QrCode> code = QrCode::Encode(address);
  if (!code) return;
  qr_address_ = address;
  qr_name_ = name;
  const QImage image = QrImage(*code, QrScaleFor(*code, kQrPixels));
  qr_->setPixmap(QPixmap::fromImage(image));
  const int top = kDesignedHeight;
  qr_->setGeometry(Px(600), top, image.width(), image.height());
  const QRect copy = PxRect(5160, 3720, 2055, 495);
  save_qr_->setGeometry(copy.left(), top + (image.height() - copy.height()) / 2, copy.width(),
                        copy.height());
  qr_->show();
  save_qr_->show();
  setFixedSize(kDesignedWidth, top + image.height() + Px(600) / 2);
}

void UploadDialog::HideQrCode() {
  qr_->hide();
  save_qr_->hide();
  qr_address_.clear();
  setFixedSize(kDesignedWidth, kDesignedHeight);
}

void UploadDialog::SaveQrCode() {
  if (qr_address_.empty()) return;
  // Not the platform's own dialog: one look everywhere, and one the tests can
  // answer. Opened without blocking, like everything else here.
  auto* chooser = new QFileDialog(this, QStringLiteral("保存二维码"), QString(),
                                  QStringLiteral("PNG 图片 (*.png)"));
  chooser->setObjectName(QStringLiteral("SaveQrCodeDialog"));
  chooser->setAttribute(Qt::WA_DeleteOnClose);
  chooser->setOption(QFileDialog::DontUseNativeDialog);
  chooser->setAcceptMode(QFileDialog::AcceptSave);
  chooser->setDefaultSuffix(QStringLiteral("png"));
  chooser->selectFile(Q(qr_name_ + ".png"));
  const std::string address = qr_address_;
  connect(chooser, &QFileDialog::fileSelected, this, [this, address](const QString& file) {
    ShowStatus(SaveQrPng(address, file, 4 * kQrPixels) ? qr_text::kSaved : qr_text::kNotSaved);
  });
  chooser->open();
}

void UploadDialog::Copy() {
  const std::string address = address_->toPlainText().toStdString();
  if (!address.empty()) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(Q(address));
  }
  ShowStatus(CopyStatus(address));
}

void UploadDialog::ShowStatus(std::string_view text) {
  QPalette palette = status_->palette();
  const StatusKind kind = KindOfStatus(text);
  palette.setColor(QPalette::WindowText, kind == StatusKind::kFailure   ? QColor(Qt::red)
                                         : kind == StatusKind::kSuccess ? QColor(0, 0x80, 0)
                                                                        : QColor(Qt::black));
  status_->setPalette(palette);
  status_->setText(Q(text));
  // The longest messages take the hints' smaller size rather than lose
  // their ends.
  QFont font = ChineseFont(ChineseFace::kHeiTi, 12);
  if (QFontMetrics(font).horizontalAdvance(status_->text()) > width() - 16)
    font.setPointSizeF(10.5);
  status_->setFont(font);
  status_->adjustSize();
  // From its designed place, moved left only as far as a long message needs.
  const int left = std::clamp(width() - status_->width() - 8, 0, Px(3720));
  status_->move(left, Px(2640));
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

UploadServices DefaultUploadServices() {
  return {PostToEndpoint, [] { return GetDiskSerial(); }};
}

void SetUploadServices(UploadServices services) {
  UploadServices defaults = DefaultUploadServices();
  if (!services.post) services.post = defaults.post;
  if (!services.machine_id) services.machine_id = defaults.machine_id;
  ConfiguredServices() = std::move(services);
}

const UploadServices& ConfiguredUploadServices() {
  return ConfiguredServices();
}

UploadDialog* ShowUploadDialog() {
  QPointer<UploadDialog>& dialog = OpenDialog();
  if (!dialog) dialog = new UploadDialog(ConfiguredServices());
  dialog->show();
  dialog->raise();
  dialog->activateWindow();
  return dialog;
}

UploadDialog* OpenUploadDialog() {
  return OpenDialog();
}

}  // namespace heartpage
