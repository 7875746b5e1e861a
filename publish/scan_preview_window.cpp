#include "publish/scan_preview_window.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QVBoxLayout>

#include "controls/chinese_font.h"
#include "controls/window_placement.h"
#include "protocol/preview_terms.h"
#include "publish/qr_image.h"
#include "publish/scan_preview.h"
#include "tasks/background.h"
#include "text/qstring.h"

namespace heartpage {
namespace {

// Large enough for a phone to read off the screen at arm's length.
constexpr int kQrPixels = 232;

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
  qr_->setFixedSize(kQrPixels, kQrPixels);
  qr_->setWordWrap(true);
  qr_->setTextInteractionFlags(Qt::TextSelectableByMouse);
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
  hint_->setFixedWidth(kQrPixels + 40);
  hint_->setFont(ChineseFont(ChineseFace::kHeiTi, 10.5));
  layout->addWidget(qr_, 0, Qt::AlignHCenter);
  layout->addWidget(address_label_);
  layout->addWidget(hint_);
  PlaceOnFirstShow(this);
}

void ScanPreviewWindow::Show(const std::string& page, const ClientServices& services) {
  // A press while the last store still waits adds nothing.
  if (storing_) return;
  storing_ = true;
  asked_ = QTime::currentTime();
  address_.clear();
  address_label_->clear();
  hint_->clear();
  ShowInPlaceOfCode(scan_text::kStoring, false);
  setCursor(Qt::BusyCursor);
  RunInBackground(
      this, [page, upload = UploadServicesOf(services)] { return StoreScanPreview(page, upload); },
      [this](const ScanPreviewOutcome& outcome) { ShowOutcome(outcome); });
}

void ScanPreviewWindow::ShowInPlaceOfCode(std::string_view text, bool failed) {
  QPalette palette = qr_->palette();
  palette.setColor(QPalette::WindowText, failed ? QColor(Qt::red) : QColor(Qt::black));
  qr_->setPalette(palette);
  qr_->setText(Q(text));
}

void ScanPreviewWindow::ShowOutcome(const ScanPreviewOutcome& outcome) {
  storing_ = false;
  unsetCursor();
  if (!outcome.stored) {
    ShowInPlaceOfCode(outcome.status, true);
    return;
  }
  const std::optional<QrCode> code = QrCode::Encode(outcome.address);
  if (!code) {
    ShowInPlaceOfCode(scan_text::kFailed, true);
    return;
  }
  address_ = outcome.address;
  qr_->setPixmap(QPixmap::fromImage(QrImage(*code, QrScaleFor(*code, kQrPixels))));
  address_label_->setText(Q(outcome.address));
  // Rounded down to the minute: the address lasts at least until then.
  const QTime until = asked_.addSecs(wire::kPreviewLifetimeMinutes * 60);
  hint_->setText(Q(ScanHint(until.toString(QStringLiteral("HH:mm")).toStdString())));
}

void ScanPreviewWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

ScanPreviewWindow* ShowScanPreview(const std::string& page, const ClientServices& services) {
  static QPointer<ScanPreviewWindow> window;
  if (window.isNull()) window = new ScanPreviewWindow;
  window->show();
  window->raise();
  window->activateWindow();
  window->Show(page, services);
  return window;
}

}  // namespace heartpage
