#pragma once

#include <QWidget>
#include <string>

#include "publish/scan_preview.h"

class QLabel;

namespace heartpage {

// The small window of 扫码预览: the temporary address's QR code, the address
// itself (selectable) and how long it lasts; or why there is none.
class ScanPreviewWindow : public QWidget {
  Q_OBJECT

 public:
  ScanPreviewWindow();

  // Stores `page` as a temporary preview with the upload dialog's services
  // and shows its code, or the failure, once the server has answered (the
  // store runs off the windows' thread). Ignored while a store still waits.
  void Show(const std::string& page);

  const std::string& address() const { return address_; }
  bool storing() const { return storing_; }

 private:
  void ShowOutcome(const ScanPreviewOutcome& outcome);

  QLabel* qr_ = nullptr;
  QLabel* address_label_ = nullptr;
  QLabel* hint_ = nullptr;
  std::string address_;
  bool storing_ = false;
};

// 扫码预览 of `page`: the one window, shown with a new address each time.
ScanPreviewWindow* ShowScanPreview(const std::string& page);

}  // namespace heartpage
