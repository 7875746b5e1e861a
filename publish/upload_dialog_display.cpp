// The upload dialog's name box, address, QR code and status.
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QTextDocument>
#include <QTextLayout>

#include "controls/chinese_font.h"
#include "controls/file_dialogs.h"
#include "net/form_post.h"
#include "pages/holder.h"
#include "protocol/host.h"
#include "publish/page_gate.h"
#include "publish/poster.h"
#include "publish/qr_image.h"
#include "publish/receipt_label.h"
#include "publish/upload_dialog.h"
#include "publish/upload_dialog_parts.h"
#include "tasks/background.h"

namespace heartpage {
namespace upload_dialog {

QLabel* AddLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry,
                 const QFont& font) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setFont(font);
  label->setAlignment(Qt::AlignCenter);
  label->setGeometry(geometry);
  return label;
}

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

QPlainTextEdit* MakeAddressBox(QWidget* parent, const QFont& font) {
  auto* address = new QPlainTextEdit(parent);
  address->setObjectName(QStringLiteral("Text3"));
  address->setGeometry(PxRect(3000, 3000, 4215, 495));
  address->setFont(font);
  // Shown for copying, not for editing: what is copied is what was published.
  address->setReadOnly(true);
  address->setWordWrapMode(QTextOption::WrapAnywhere);
  address->document()->setDocumentMargin(1);
  address->setFocusPolicy(Qt::ClickFocus);
  address->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  address->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QPalette palette = address->palette();
  palette.setColor(QPalette::Base, QColor(0xE0, 0xE0, 0xE0));
  address->setPalette(palette);
  return address;
}

QString FilteredName(const QString& text) {
  QString name;
  for (const QChar c : text) {
    const char16_t code = c.unicode();
    if ((code >= '0' && code <= '9') || (code >= 'a' && code <= 'z')) name += c;
    if (code >= 'A' && code <= 'Z') name += QChar(code + ('a' - 'A'));
  }
  return name;
}

QValidator::State NameValidator::validate(QString& input, int& position) const {
  const QString before = input.left(position);
  input = FilteredName(input).left(static_cast<int>(kMaxPageNameLength));
  position =
      std::min(static_cast<int>(FilteredName(before).size()), static_cast<int>(input.size()));
  return Acceptable;
}

}  // namespace upload_dialog

namespace {

using upload_dialog::kDesignedHeight;
using upload_dialog::kDesignedWidth;

// About this many pixels square, quiet zone included: large enough for a
// phone held at arm's length to read off the screen.
constexpr int kQrPixels = 176;
// Below the code, and the least a code is shrunk to where the screen is
// small: still readable by a phone close up.
constexpr int kQrMargin = Px(600) / 2;
constexpr int kSmallestQrPixels = 96;

}  // namespace

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

int UploadDialog::FrameHeight() const {
  // Until the system has framed the window it reports no frame, which a
  // title bar then pushes past the screen's bottom.
  const int reported = isVisible() ? frameGeometry().height() - geometry().height() : 0;
  return std::max(reported, style()->pixelMetric(QStyle::PM_TitleBarHeight) +
                                2 * style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth));
}

int UploadDialog::FrameWidth() const {
  const int reported = isVisible() ? frameGeometry().width() - geometry().width() : 0;
  return std::max(reported, 2 * style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth));
}

void UploadDialog::SetContentHeight(int height) {
  const QSize content(kDesignedWidth, height);
  surface_->setFixedSize(content);
  QSize shown = content;
  if (const QScreen* shown_on = screen()) {
    const QSize room = shown_on->availableGeometry().size() - QSize(FrameWidth(), FrameHeight());
    // A scroll bar takes room of its own beside what it scrolls.
    const int bar = scroll_->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    if (shown.height() > room.height()) shown = QSize(shown.width() + bar, room.height());
    if (shown.width() > room.width())
      shown = QSize(room.width(), std::min(shown.height() + bar, room.height()));
  }
  setFixedSize(shown);
  KeepOnScreen();
}

int UploadDialog::GateHeight() const {
  return gate_->text().isEmpty() ? 0 : gate_->heightForWidth(upload_dialog::kReceiptPlace.width());
}

int UploadDialog::BaseHeight() const {
  const QRect place = upload_dialog::kReceiptPlace;
  const int needed = receipt_->text().isEmpty() ? 0 : receipt_->heightForWidth(place.width());
  const int gate = GateHeight();
  // Under the line of what the reader meets, the receipt keeps its
  // designed height; the QR code goes below both.
  const int receipt = gate == 0 ? needed : std::max(needed, place.height());
  return std::max(kDesignedHeight, place.top() + gate + receipt + 2);
}

void UploadDialog::Relayout() {
  const QRect place = upload_dialog::kReceiptPlace;
  const int gate = GateHeight();
  gate_->setGeometry(place.left(), place.top(), place.width(), gate);
  receipt_->setGeometry(place.left(), place.top() + gate, place.width(),
                        std::max(place.height(), BaseHeight() - place.top() - gate - 2));
  if (!qr_address_.empty()) return ShowQrCode(qr_address_, qr_name_);
  SetContentHeight(BaseHeight());
}

// The window grows downwards to make room; nothing designed moves. On a
// small screen (a large scale) the code shrinks first; what still does not
// fit scrolls, never past the screen's bottom.
void UploadDialog::ShowQrCode(const std::string& address, const std::string& name) {
  const std::optional<QrCode> code = QrCode::Encode(address);
  if (!code) return;
  qr_address_ = address;
  qr_name_ = name;
  const int top = BaseHeight();
  int pixels = kQrPixels;
  if (const QScreen* shown_on = screen())
    pixels = std::clamp(shown_on->availableGeometry().height() - FrameHeight() - top - kQrMargin,
                        kSmallestQrPixels, kQrPixels);
  const QImage image = QrImage(*code, QrScaleFor(*code, pixels));
  qr_->setPixmap(QPixmap::fromImage(image));
  qr_->setGeometry(Px(600), top, image.width(), image.height());
  // Beside the code, the three buttons about it, as wide as "点击复制" above
  // them, centred on the code's height.
  const QRect copy = PxRect(5160, 3720, 2055, 495);
  const int gap = copy.height() / 3;
  const int buttons = 3 * copy.height() + 2 * gap;
  int button_top = top + (image.height() - buttons) / 2;
  for (QPushButton* button : {save_qr_, save_poster_, copy_poster_}) {
    button->setGeometry(copy.left(), std::max(top, button_top), copy.width(), copy.height());
    button_top += copy.height() + gap;
    button->show();
  }
  qr_->show();
  // A code shrunk below the buttons' height leaves them their own.
  SetContentHeight(top + std::max(image.height(), buttons) + kQrMargin);
}

void UploadDialog::KeepOnScreen() {
  const QScreen* shown_on = screen();
  if (!isVisible() || shown_on == nullptr) return;
  const QRect available = shown_on->availableGeometry();
  // The frame grows with the window only once the system has seen the new
  // size: counted from the window's own height.
  QRect frame(frameGeometry().topLeft(), QSize(frameGeometry().width(), height() + FrameHeight()));
  if (frame.bottom() > available.bottom()) frame.moveBottom(available.bottom());
  if (frame.top() < available.top()) frame.moveTop(available.top());
  if (frame.right() > available.right()) frame.moveRight(available.right());
  if (frame.left() < available.left()) frame.moveLeft(available.left());
  move(frame.topLeft());
}

void UploadDialog::HideQrCode() {
  qr_->hide();
  save_qr_->hide();
  save_poster_->hide();
  copy_poster_->hide();
  qr_address_.clear();
  SetContentHeight(BaseHeight());
}

void UploadDialog::SaveQrCode() {
  if (qr_address_.empty()) return;
  // Not the platform's own dialog: one look everywhere, and one the tests can
  // answer. Opened without blocking, like everything else here.
  auto* chooser = new QFileDialog(this, QStringLiteral("保存二维码"), QString(),
                                  QStringLiteral("PNG 图片 (*.png)"));
  chooser->setObjectName(QStringLiteral("SaveQrCodeDialog"));
  chooser->setAttribute(Qt::WA_DeleteOnClose);
  UseChineseFileView(chooser);
  chooser->setAcceptMode(QFileDialog::AcceptSave);
  chooser->setDefaultSuffix(QStringLiteral("png"));
  chooser->selectFile(Q(qr_name_ + ".png"));
  const std::string address = qr_address_;
  connect(chooser, &QFileDialog::fileSelected, this, [this, address](const QString& file) {
    ShowStatus(SaveQrPng(address, file, 4 * kQrPixels) ? qr_text::kSaved : qr_text::kNotSaved);
  });
  chooser->open();
}

void UploadDialog::MakePoster(std::function<void(const QImage& poster)> then) {
  if (qr_address_.empty() || making_poster_) return;
  making_poster_ = true;
  ShowStatus(poster_text::kMaking, StatusKind::kProgress);
  RunInBackground(
      this,
      [page = published_page_, address = qr_address_] {
        // The sender's own pictures are on the server already: the poster
        // takes the first that comes within a few seconds.
        const PictureFetch fetch = [](const std::string& picture) -> std::optional<std::string> {
          PostLimits limits;
          limits.total = std::chrono::seconds(20);
          FetchResult got = FetchAddress(picture, limits);
          if (!got.ok) return std::nullopt;
          return std::move(got.bytes);
        };
        // The first line is the page's own words, which a page held back
        // keeps to itself until it opens.
        const wire::PageSettings& gate = page.settings;
        const bool code = !gate.code.empty();
        const QString line = HeldBack(gate.opens, code) ? QString() : Q(page.first_line);
        return DrawPoster(PosterContentOf(page.page, address, line, fetch, gate.opens, code));
      },
      [this, then = std::move(then)](const QImage& poster) {
        making_poster_ = false;
        if (poster.isNull()) return ShowStatus(poster_text::kNotSaved);
        then(poster);
      });
}

void UploadDialog::SavePoster() {
  if (qr_address_.empty() || making_poster_) return;
  auto* chooser =
      new QFileDialog(this, Q(poster_text::kSave), QString(), QStringLiteral("PNG 图片 (*.png)"));
  chooser->setObjectName(QStringLiteral("SavePosterDialog"));
  chooser->setAttribute(Qt::WA_DeleteOnClose);
  UseChineseFileView(chooser);
  chooser->setAcceptMode(QFileDialog::AcceptSave);
  chooser->setDefaultSuffix(QStringLiteral("png"));
  chooser->selectFile(Q(qr_name_ + "-poster.png"));
  connect(chooser, &QFileDialog::fileSelected, this, [this](const QString& file) {
    MakePoster([this, file](const QImage& poster) {
      ShowStatus(poster.save(file, "PNG") ? poster_text::kSaved : poster_text::kNotSaved);
    });
  });
  chooser->open();
}

void UploadDialog::CopyPoster() {
  MakePoster([this](const QImage& poster) {
    QGuiApplication::clipboard()->setImage(poster);
    ShowStatus(poster_text::kCopied);
  });
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
  ShowStatus(text, KindOfStatus(text));
}

void UploadDialog::ShowStatus(std::string_view text, StatusKind kind) {
  QPalette palette = status_->palette();
  palette.setColor(QPalette::WindowText, kind == StatusKind::kFailure   ? QColor(Qt::red)
                                         : kind == StatusKind::kSuccess ? QColor(0, 0x80, 0)
                                                                        : QColor(Qt::black));
  status_->setPalette(palette);
  status_->setText(Q(text));
  // The longest messages take the hints' smaller size rather than lose
  // their ends.
  QFont font = ChineseFont(ChineseFace::kHeiTi, 12);
  if (QFontMetrics(font).horizontalAdvance(status_->text()) > surface_->width() - 16)
    font.setPointSizeF(10.5);
  status_->setFont(font);
  status_->adjustSize();
  // From its designed place, moved left only as far as a long message needs.
  const int left = std::clamp(surface_->width() - status_->width() - 8, 0, Px(3720));
  status_->move(left, Px(2640));
}

// The page online now, as the server tells of it.
void UploadDialog::ShowCurrentPage(const std::string& name) {
  address_caption_->setText(Q(upload_text::kCurrentPageCaption));
  ShowAddress(Q(PageAddress(name)));
}

void UploadDialog::FetchStoredAt(const std::string& name) {
  FetchOwnedPageThen([this, name](const std::optional<OwnedPage>& owned) {
    // Only while the page it is about is still the one shown.
    if (owned && owned->name == name && GGCT::Get().ZCYN == name &&
        address_caption_->text() == Q(upload_text::kCurrentPageCaption)) {
      server_stored_at_ = owned->stored_at;
      ShowStoredAt(owned->stored_at);
      // No time: the page was taken down (or the server does not say). The
      // name stays this machine's, but no address is shown as a page online.
      if (owned->stored_at.empty()) {
        page_online_ = false;
        address_caption_->setText(Q(upload_text::kAddressCaption));
        address_->clear();
        RefreshSummary();
        if (!uploading_ && status_->text().isEmpty()) ShowStatus(upload_text::kNoPageOnline);
      }
    }
  });
}

void UploadDialog::ShowStoredAt(const std::string& utc) {
  const std::string local = LocalMinuteOfUtc(utc);
  if (local.empty()) return stored_at_->clear();
  stored_at_->setText(QStringLiteral("发布于 ") + Q(local));
}

}  // namespace heartpage
