#include "publish/receipt_label.h"

#include "controls/chinese_font.h"
#include "publish/receipts.h"
#include "tasks/background.h"

namespace heartpage {

ReceiptLabel::ReceiptLabel(QWidget* parent) : QLabel(parent) {
  setObjectName(QStringLiteral("Receipt"));
  setFont(ChineseFont(ChineseFace::kHeiTi, 10.5));
  setAlignment(Qt::AlignCenter);
  setWordWrap(true);
  QPalette tone = palette();
  tone.setColor(QPalette::WindowText, QColor(0xC0, 0x30, 0x60));
  setPalette(tone);
}

void ReceiptLabel::Fetch(const std::string& name, const UploadServices& services) {
  const int asked = ++asked_;
  ++running_;
  RunInBackground(
      this, [name, services] { return FetchReceipt(name, services); },
      [this, asked](const ReceiptOutcome& outcome) {
        --running_;
        if (asked != asked_) return;
        setText(QString::fromStdString(outcome.receipt ? ReceiptText(*outcome.receipt)
                                                       : outcome.error));
      });
}

void ReceiptLabel::Forget() {
  ++asked_;
  clear();
}

}  // namespace heartpage
