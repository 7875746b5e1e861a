#include "app/answer_watch.h"

#include <QEvent>
#include <QLabel>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <algorithm>

#include "controls/chinese_font.h"
#include "controls/twips.h"
#include "pages/holder.h"
#include "publish/receipt_news.h"
#include "publish/receipts.h"
#include "tasks/background.h"

namespace heartpage {
namespace {

constexpr auto kNoticeTitle = "TA回答了";

// What tells one answer from the next: the same text tapped again later is
// news too.
std::string AnswerKey(const wire::ReceiptAnswer& answer) {
  return answer.time + '\n' + std::to_string(answer.choice) + '\n' + answer.text;
}

// The heart on the main window: it stays until clicked.
class Heart : public QLabel {
 public:
  explicit Heart(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("AnswerHeart"));
    setFont(ChineseFont(ChineseFace::kHeiTi, 12));
    setStyleSheet(
        QStringLiteral("background: rgba(255, 240, 245, 230); color: #d0104c;"
                       "border: 2px solid #ff6f91; border-radius: 12px; padding: 6px 14px;"));
    setToolTip(QStringLiteral("点击关闭"));
    setCursor(Qt::PointingHandCursor);
  }

 protected:
  void mousePressEvent(QMouseEvent*) override { hide(); }
};

}  // namespace

AnswerWatch::AnswerWatch(const ClientServices& services, QWidget* window)
    : QObject(window), services_(services), window_(window), timer_(new QTimer(this)) {
  setObjectName(QStringLiteral("AnswerWatch"));
  timer_->setInterval(kAnswerPollMs);
  connect(timer_, &QTimer::timeout, this, &AnswerWatch::PollNow);
  connect(&ReceiptNews::Get(), &ReceiptNews::Changed, this, &AnswerWatch::Learnt);
}

void AnswerWatch::Start() {
  timer_->start();
  PollNow();
}

void AnswerWatch::PollNow() {
  if (asking_) return;
  const std::string name = GGCT::Get().ZCYN;
  if (name.empty()) return;
  if (name == silent_ && PagesPublished() == silent_since_) return;
  asking_ = true;
  const unsigned published = PagesPublished();
  RunInBackground(
      this, [name, services = UploadServicesOf(services_)] { return FetchReceipt(name, services); },
      [this, name, published](const ReceiptOutcome& outcome) {
        asking_ = false;
        // A page that takes no answers: gone, taken down, or not this
        // machine's after all. Asking again changes nothing until another
        // page is published.
        const bool closed =
            outcome.status == wire::status::kNotYours || outcome.status == wire::status::kUnknown ||
            outcome.status == wire::status::kGone || outcome.status == wire::status::kWithdrawn;
        ReceiptNews::Get().Learn(name, outcome);
        // No answer this time otherwise: the next minute asks again.
        if (!outcome.receipt && !closed) return;
        if (closed || outcome.receipt->question.empty()) {
          silent_ = name;
          silent_since_ = published;
          return;
        }
        silent_.clear();
      });
}

void AnswerWatch::Learnt() {
  const ReceiptNews& news = ReceiptNews::Get();
  const std::optional<wire::Receipt>& receipt = news.receipt();
  // The heart says what the upload dialog says, also once the page it told
  // of was replaced.
  if (heart_ && heart_->isVisible()) {
    const std::string newest = receipt ? NewestAnswerText(*receipt) : std::string();
    if (newest.empty()) {
      heart_->hide();
    } else {
      ShowHeart(QString::fromStdString(newest));
    }
  }
  const wire::ReceiptAnswer* last = receipt ? LastAnswer(*receipt) : nullptr;
  const std::string key = last == nullptr ? std::string() : AnswerKey(*last);
  const bool fresh = news.name() == watched_ && seen_any_ && key != last_seen_ && last != nullptr;
  watched_ = news.name();
  seen_any_ = receipt.has_value();
  last_seen_ = key;
  if (fresh) Tell(QString::fromStdString(AnswerText(*last)));
}

void AnswerWatch::Tell(const QString& answer) {
  if (QSystemTrayIcon::isSystemTrayAvailable() && QSystemTrayIcon::supportsMessages()) {
    if (!tray_) {
      tray_ = new QSystemTrayIcon(window_->windowIcon(), this);
      tray_->setObjectName(QStringLiteral("AnswerTray"));
      tray_->setToolTip(QStringLiteral("HeartPage"));
      connect(tray_, &QSystemTrayIcon::activated, window_, [window = window_] {
        window->showNormal();
        window->raise();
        window->activateWindow();
      });
    }
    tray_->show();
    tray_->showMessage(QString::fromUtf8(kNoticeTitle), answer, QSystemTrayIcon::Information);
    return;
  }
  ShowHeart(answer);
}

void AnswerWatch::ShowHeart(const QString& answer) {
  if (!heart_) heart_ = new Heart(window_);
  heart_->setText(QStringLiteral("❤ ") + answer);
  heart_->adjustSize();
  // In the bottom band, right of the service hot spot: over nothing the
  // user needs.
  heart_->move(std::max(0, window_->width() - heart_->width() - Px(360)),
               window_->height() - heart_->height() - Px(270));
  heart_->show();
  heart_->raise();
}

}  // namespace heartpage
