// The upload dialog's size on its screen, its status, and where the receipt
// and the QR code go as they grow.
#include "publish/upload_dialog.h"

#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <algorithm>

#include "controls/chinese_font.h"
#include "publish/address_code_panel.h"
#include "publish/receipt_label.h"
#include "publish/upload_dialog_parts.h"

namespace heartpage {
namespace {

using upload_dialog::kDesignedHeight;
using upload_dialog::kDesignedWidth;

// Below the code, and the least a code is shrunk to where the screen is
// small: still readable by a phone close up.
constexpr int kQrMargin = Px(600) / 2;
constexpr int kSmallestQrPixels = 96;

}  // namespace

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
  if (code_panel_->shown()) return ShowQrCode(code_panel_->address(), code_panel_->name());
  SetContentHeight(BaseHeight());
}

// The window grows downwards to make room; nothing designed moves. On a
// small screen (a large scale) the code shrinks first; what still does not
// fit scrolls, never past the screen's bottom.
void UploadDialog::ShowQrCode(const std::string& address, const std::string& name) {
  const int top = BaseHeight();
  int pixels = upload_dialog::kQrPixels;
  if (const QScreen* shown_on = screen())
    pixels = std::clamp(shown_on->availableGeometry().height() - FrameHeight() - top - kQrMargin,
                        kSmallestQrPixels, upload_dialog::kQrPixels);
  if (const int height = code_panel_->Show(address, name, top, pixels); height > 0)
    SetContentHeight(top + height + kQrMargin);
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
  code_panel_->Hide();
  SetContentHeight(BaseHeight());
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

}  // namespace heartpage
