#include "publish/scan_preview_window.h"

#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QVBoxLayout>

#include "controls/background.h"
#include "controls/chinese_font.h"
#include "controls/window_placement.h"
#include "publish/qr_image.h"
#include "publish/scan_preview.h"
#include "publish/upload_dialog.h"

namespace heartpage {
namespace {

// Large enough for a phone to read off the screen at arm's length.
constexpr int kQrPixels = 232;

QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

ScanPreviewWindow::ScanPreviewWindow() : QWidget(nullptr) {
  setObjectName(QStringLiteral("ScanPreview"));
  setWindowTitle(Q(scan_text::kTitle));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  // Closing only hides it: a store waiting for the server still has its
  // window to report to.
  auto* layout = new QVBoxLayout(this);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  qr_ = new QLabel(this);
  qr_->setObjectName(QStringLiteral("QrCode"));
  qr_->setAlignment(Qt::AlignCenter);
  qr_->setMinimumSize(kQrPixels, kQrPixels);
  address_label_ = new QLabel(this);
  address_label_->setObjectName(QStringLiteral("Address"));
  address_label_->setAlignment(Qt::AlignCenter);
  address_label_->setWordWrap(true);
  address_label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  address_label_->setFixedWidth(kQrPixels + 40);
  hint_ = new QLabel(this);
  hint_->setObjectName(QStringLiteral("Hint"));
  hint_->setAlignment(Qt::AlignCenter);
  hint_->setWordWrap(true);
  hint_->setFont(ChineseFont(ChineseFace::kHeiTi, 10.5));
  layout->addWidget(qr_, 0, Qt::AlignHCenter);
  layout->addWidget(address_label_);
  layout->addWidget(hint_);
  PlaceOnFirstShow(this);
}

void ScanPreviewWindow::Show(const std::string& page) {
  // A press while the last store still waits adds nothing.
  if (storing_) return;
  storing_ = true;
  address_.clear();
  qr_->clear();
  address_label_->clear();
  hint_->setText(Q(scan_text::kStoring));
  setCursor(Qt::BusyCursor);
  RunInBackground(
      this,
      [page, services = ConfiguredUploadServices()] { return StoreScanPreview(page, services); },
      [this](const ScanPreviewOutcome& outcome) { ShowOutcome(outcome); });
}

void ScanPreviewWindow::ShowOutcome(const ScanPreviewOutcome& outcome) {
  storing_ = false;
  unsetCursor();
  QPalette palette = hint_->palette();
  palette.setColor(QPalette::WindowText, outcome.stored ? QColor(Qt::black) : QColor(Qt::red));
  hint_->setPalette(palette);
  if (!outcome.stored) {
    hint_->setText(Q(outcome.status));
    return;
  }
  const std::optional<QrCode> code = QrCode::Encode(outcome.address);
  if (!code) {
    hint_->setText(Q(scan_text::kFailed));
    return;
  }
  address_ = outcome.address;
  qr_->setPixmap(QPixmap::fromImage(QrImage(*code, QrScaleFor(*code, kQrPixels))));
  address_label_->setText(Q(outcome.address));
  hint_->setText(Q(scan_text::kHint));
}

ScanPreviewWindow* ShowScanPreview(const std::string& page) {
  static QPointer<ScanPreviewWindow> window;
  if (window.isNull()) window = new ScanPreviewWindow;
  window->show();
  window->raise();
  window->activateWindow();
  window->Show(page);
  return window;
}

}  // namespace heartpage
