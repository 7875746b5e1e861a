#include "publish/receipt_news.h"

#include "protocol/wire.h"

namespace heartpage {

ReceiptNews& ReceiptNews::Get() {
  static ReceiptNews* news = new ReceiptNews;
  return *news;
}

void ReceiptNews::Learn(const std::string& name, const ReceiptOutcome& outcome) {
  const bool closed =
      outcome.status == wire::status::kNotYours || outcome.status == wire::status::kUnknown;
  if (!outcome.receipt && !closed) return;
  if (name == name_ && outcome.receipt == receipt_) return;
  name_ = name;
  receipt_ = outcome.receipt;
  emit Changed();
}

void ReceiptNews::Forget() {
  if (name_.empty() && !receipt_) return;
  name_.clear();
  receipt_.reset();
  emit Changed();
}

}  // namespace heartpage
