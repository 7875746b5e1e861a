#pragma once

#include <QLabel>
#include <string>

#include "publish/upload.h"

namespace heartpage {

// "Receipt", under the address in the upload dialog: what came back from
// the page online now, asked of the server off the windows' thread.
class ReceiptLabel : public QLabel {
  Q_OBJECT

 public:
  explicit ReceiptLabel(QWidget* parent);

  // Asks for the receipt of `name` and shows it when it comes; a failure
  // shows what the server said, in grey like the rest. An answer that comes
  // after a newer request, or after Forget, is dropped.
  void Fetch(const std::string& name, const UploadServices& services);
  // There is no page of this machine's to tell of.
  void Forget();
  // A request is still out.
  bool fetching() const { return running_ > 0; }

 private:
  int asked_ = 0;
  int running_ = 0;
};

}  // namespace heartpage
