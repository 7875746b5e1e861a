#include "publish/receipt_label.h"

#include "controls/chinese_font.h"
#include "publish/receipt_news.h"
#include "publish/receipts.h"
#include "tasks/background.h"

namespace heartpage {

ReceiptLabel::ReceiptLabel(QWidget* parent) : QLabel(parent) {
  setObjectName(QStringLiteral("Receipt"));
  setFont(ChineseFont(ChineseFace::kHeiTi, 10.5));
  setAlignment(Qt::AlignCenter);
  setWordWrap(true);
  setTextFormat(Qt::PlainText);
  QPalette tone = palette();
  tone.setColor(QPalette::WindowText, QColor(0xC0, 0x30, 0x60));
  setPalette(tone);
  connect(&ReceiptNews::Get(), &ReceiptNews::Changed, this, &ReceiptLabel::ShowKnown);
}

void ReceiptLabel::ShowKnown() {
  const ReceiptNews& news = ReceiptNews::Get();
  if (name_.empty() || news.name() != name_ || !news.receipt()) return;
  QStringList lines{QString::fromStdString(ReceiptText(*news.receipt()))};
  for (const std::string& line : EarlierLines(*news.receipt()))
    lines << QString::fromStdString(line);
  setText(lines.join(QLatin1Char('\n')));
  emit Shown();
}

void ReceiptLabel::Fetch(const std::string& name, const UploadServices& services) {
  if (name != name_) clear();
  name_ = name;
  ShowKnown();
  const int asked = ++asked_;
  ++running_;
  RunInBackground(
      this, [name, services] { return FetchReceipt(name, services); },
      [this, name, asked](const ReceiptOutcome& outcome) {
        --running_;
        if (asked != asked_) return;
        if (!outcome.receipt) {
          setText(QString::fromStdString(outcome.error));
          emit Shown();
        }
        ReceiptNews::Get().Learn(name, outcome);
        // Known already, and so not news: shown all the same.
        if (outcome.receipt) ShowKnown();
      });
}

void ReceiptLabel::Forget() {
  ++asked_;
  name_.clear();
  clear();
  emit Shown();
}

}  // namespace heartpage
