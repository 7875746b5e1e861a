#pragma once

#include <QTime>
#include <QWidget>
#include <string>

#include "publish/client_services.h"
#include "publish/scan_preview.h"

class QLabel;

namespace heartpage {

// The small window of 扫码预览: the temporary address's QR code, the address
// itself (selectable) and how long it lasts; or, where the code would be, why
// there is none. Escape closes it.
class ScanPreviewWindow : public QWidget {
  Q_OBJECT

 public:
  ScanPreviewWindow();

  // Stores `page` as a temporary preview through `services` (those of the
  // editor that asked) and shows its code, or the failure, once the server has
  // answered (the store runs off the windows' thread). Ignored while a store still waits.
  void Show(const std::string& page, const ClientServices& services);

  const std::string& address() const { return address_; }
  bool storing() const { return storing_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void ShowOutcome(const ScanPreviewOutcome& outcome);
  // A text in the code's place: what is happening, or (red) what went wrong.
  void ShowInPlaceOfCode(std::string_view text, bool failed);

  QLabel* qr_ = nullptr;
  QLabel* address_label_ = nullptr;
  QLabel* hint_ = nullptr;
  std::string address_;
  bool storing_ = false;
  // When the last store was asked for: its address ends no later than its
  // lifetime after this.
  QTime asked_;
};

// 扫码预览 of `page` through `services`: the one window, shown with a new
// address each time.
ScanPreviewWindow* ShowScanPreview(const std::string& page, const ClientServices& services);

}  // namespace heartpage
