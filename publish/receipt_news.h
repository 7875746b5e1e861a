#pragma once

#include <QObject>
#include <optional>
#include <string>

#include "publish/receipts.h"

namespace heartpage {

// What the program knows of the receipt of the page this machine owns,
// whoever asked last (the watch over answers every minute, the upload
// dialog as it opens or publishes): the dialog and the main window's heart
// both show it, so they never disagree.
class ReceiptNews : public QObject {
  Q_OBJECT

 public:
  static ReceiptNews& Get();

  // What the server said of `name`. A failure to reach it changes nothing
  // known; an answer that the page takes none (not this machine's, gone)
  // forgets it.
  void Learn(const std::string& name, const ReceiptOutcome& outcome);
  // The name was given up: nothing of it is this machine's any more.
  void Forget();

  const std::string& name() const { return name_; }
  // The receipt of name(), if one was read.
  const std::optional<wire::Receipt>& receipt() const { return receipt_; }

 signals:
  void Changed();

 private:
  ReceiptNews() = default;
  std::string name_;
  std::optional<wire::Receipt> receipt_;
};

}  // namespace heartpage
