#pragma once

#include <QLabel>
#include <string>

#include "publish/upload.h"

namespace heartpage {

// "Receipt", under the address in the upload dialog: what came back from
// the page online now, and from its earlier versions a line each, as the
// program learns it (ReceiptNews), whoever asked.
class ReceiptLabel : public QLabel {
  Q_OBJECT

 public:
  explicit ReceiptLabel(QWidget* parent);

  // Asks for the receipt of `name` now, off the windows' thread, and shows
  // what is known of it meanwhile; a failure shows what the server said, in
  // the same colour. An answer that comes after a newer request, or after
  // Forget, is dropped.
  void Fetch(const std::string& name, const UploadServices& services);
  // There is no page of this machine's to tell of.
  void Forget();
  // A request is still out.
  bool fetching() const { return running_ > 0; }

 signals:
  // The text changed, and with it perhaps the height it needs.
  void Shown();

 private:
  void ShowKnown();

  std::string name_;
  int asked_ = 0;
  int running_ = 0;
};

}  // namespace heartpage
