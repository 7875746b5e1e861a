// The upload dialog's page online: its address, when it was stored, what the
// reader meets before it and what came back from it.
#include "publish/upload_dialog.h"

#include <QClipboard>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QTextLayout>

#include "pages/holder.h"
#include "protocol/host.h"
#include "publish/page_gate.h"
#include "publish/receipt_label.h"
#include "publish/receipt_news.h"
#include "publish/upload_dialog_parts.h"

namespace heartpage {

void UploadDialog::ShowGateOfReceipt() {
  const ReceiptNews& news = ReceiptNews::Get();
  const std::string& owned = GGCT::Get().ZCYN;
  if (published_settings_ || owned.empty() || news.name() != owned || !news.receipt()) return;
  ShowGate(news.receipt()->opens, news.receipt()->has_code);
}

void UploadDialog::ShowGate(const std::string& opens_utc, bool has_code) {
  const std::vector<std::string> lines =
      GateLines(opens_utc, has_code, std::chrono::system_clock::now());
  QString text;
  if (!lines.empty()) text = QStringLiteral("TA打开时：");
  for (std::size_t i = 0; i < lines.size(); ++i)
    text += (i == 0 ? QString() : QStringLiteral(" · ")) + Q(lines[i]);
  if (text == gate_->text()) return;
  gate_->setText(text);
  Relayout();
}

int UploadDialog::GateHeight() const {
  return gate_->text().isEmpty() ? 0 : gate_->heightForWidth(upload_dialog::kReceiptPlace.width());
}

// The page online now, as the server tells of it.
void UploadDialog::ShowCurrentPage(const std::string& name) {
  address_caption_->setText(Q(upload_text::kCurrentPageCaption));
  ShowAddress(Q(PageAddress(name)));
}

void UploadDialog::FetchStoredAt(const std::string& name) {
  FetchOwnedPageThen([this, name](const std::optional<OwnedPage>& owned) {
    // Only while the page it is about is still the one shown.
    if (owned && owned->name == name && GGCT::Get().ZCYN == name &&
        address_caption_->text() == Q(upload_text::kCurrentPageCaption)) {
      server_stored_at_ = owned->stored_at;
      ShowStoredAt(owned->stored_at);
      // No time: the page was taken down (or the server does not say). The
      // name stays this machine's, but no address is shown as a page online.
      if (owned->stored_at.empty()) {
        page_online_ = false;
        address_caption_->setText(Q(upload_text::kAddressCaption));
        address_->clear();
        RefreshSummary();
        if (doing_ != Doing::kSending && status_->text().isEmpty())
          ShowStatus(upload_text::kNoPageOnline);
      }
    }
  });
}

void UploadDialog::ShowStoredAt(const std::string& utc) {
  const std::string local = LocalMinuteOfUtc(utc);
  if (local.empty()) return stored_at_->clear();
  stored_at_->setText(QStringLiteral("发布于 ") + Q(local));
}

// A long host and name do not fit the box in its designed font: the address
// wraps over two lines first, the box growing towards the copy button if two
// lines need it, and only then the font shrinks.
void UploadDialog::ShowAddress(const QString& address) {
  const QRect designed = PxRect(3000, 3000, 4215, 495);
  const int room_below = PxRect(5160, 3720, 0, 0).top() - 4;  // above "点击复制"
  // From the frame, not the viewport: the dialog may not have been shown yet.
  const int chrome =
      2 * address_->frameWidth() + 2 * static_cast<int>(address_->document()->documentMargin());
  const int width = designed.width() - chrome;
  QFont font = address_->font();
  int height = designed.height();
  for (double points = 12; points >= 6; points -= 0.5) {
    font.setPointSizeF(points);
    const QFontMetrics metrics(font);
    QTextLayout layout(address, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    int lines = 0;
    while (true) {
      QTextLine line = layout.createLine();
      if (!line.isValid()) break;
      line.setLineWidth(width);
      ++lines;
    }
    layout.endLayout();
    // A line of the box takes a pixel more than the font's spacing, rounded.
    const int needed = lines * (metrics.lineSpacing() + 1) + chrome + 1;
    if (lines == 1 && needed <= designed.height()) break;
    if (lines <= 2 && needed <= room_below - designed.top()) {
      height = std::max(designed.height(), needed);
      break;
    }
  }
  address_->setGeometry(designed.left(), designed.top(), designed.width(), height);
  address_->setFont(font);
  address_->setPlainText(address);
}

void UploadDialog::Copy() {
  const std::string address = address_->toPlainText().toStdString();
  if (!address.empty()) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(Q(address));
  }
  ShowStatus(CopyStatus(address));
}

}  // namespace heartpage
