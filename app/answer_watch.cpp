#include "app/answer_watch.h"

#include <QDir>
#include <QEvent>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QSaveFile>
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
// Page name → the key of its last answer known (empty: none yet).
constexpr auto kAnswersFile = "answers-seen.json";
constexpr qint64 kMaxAnswersFileBytes = 64 * 1024;

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
  connect(&ReceiptNews::Get(), &ReceiptNews::Changed, this, &AnswerWatch::OnReceiptNews);
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

void AnswerWatch::OnReceiptNews() {
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
  bool fresh = news.name() == watched_ && seen_any_ && key != last_seen_ && last != nullptr;
  if (receipt && !(news.name() == watched_ && seen_any_)) {
    // First sight of this page in this run: what came while the program
    // was closed is news too.
    const std::optional<std::string> known = Remembered(news.name());
    fresh = last != nullptr && known && *known != key;
  }
  if (receipt && (!seen_any_ || news.name() != watched_ || key != last_seen_))
    Remember(news.name(), key);
  watched_ = news.name();
  seen_any_ = receipt.has_value();
  last_seen_ = key;
  if (fresh) AnnounceAnswer(QString::fromStdString(AnswerText(*last)));
}

std::optional<std::string> AnswerWatch::Remembered(const std::string& name) const {
  if (services_.answers_directory.empty()) return std::nullopt;
  QFile file(QDir(QString::fromStdString(services_.answers_directory)).filePath(kAnswersFile));
  if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxAnswersFileBytes) return std::nullopt;
  const QJsonValue known =
      QJsonDocument::fromJson(file.readAll()).object().value(QString::fromStdString(name));
  if (!known.isString()) return std::nullopt;
  return known.toString().toStdString();
}

void AnswerWatch::Remember(const std::string& name, const std::string& key) const {
  if (services_.answers_directory.empty()) return;
  const QDir folder(QString::fromStdString(services_.answers_directory));
  const QString path = folder.filePath(kAnswersFile);
  // One machine owns one name at a time: the record of another page is
  // of no use once this one is watched.
  const QJsonObject known{{QString::fromStdString(name), QString::fromStdString(key)}};
  if (!folder.mkpath(QStringLiteral("."))) return;
  QSaveFile out(path);
  // Her words are the sender's alone, as the drafts are.
  if (!out.open(QIODevice::WriteOnly) ||
      !out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
    return;
  out.write(QJsonDocument(known).toJson(QJsonDocument::Compact));
  out.commit();
}

void AnswerWatch::AnnounceAnswer(const QString& answer) {
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
