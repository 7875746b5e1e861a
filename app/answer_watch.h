#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <optional>
#include <string>

#include "publish/client_services.h"

class QLabel;
class QSystemTrayIcon;
class QTimer;
class QWidget;

namespace heartpage {

// How often the program asks what came back from its page.
inline constexpr int kAnswerPollMs = 60'000;

// While the program runs: every minute one request, off the windows'
// thread, for the receipt of the page this machine owns, told to
// ReceiptNews; an answer newer than the last one seen there, whoever asked,
// is told to the sender through the desktop's tray, or, where there is
// none, as a heart on `window`, which from then on says what the upload
// dialog says of the newest answer. Nothing is asked while the machine owns
// no name, nor again for a page that asks no question (or that the server
// no longer keeps) until a page is published anew.
class AnswerWatch : public QObject {
  Q_OBJECT

 public:
  AnswerWatch(const ClientServices& services, QWidget* window);

  // From now on every kAnswerPollMs, starting with one ask now.
  void Start();
  // One ask now, unless one is still out or there is nothing to ask about.
  void PollNow();
  bool asking() const { return asking_; }

 private:
  void AnnounceAnswer(const QString& answer);
  // Called when ReceiptNews has a receipt to show.
  void OnReceiptNews();
  void ShowHeart(const QString& answer);
  // The last answer known of `name` when the program last ran (nothing
  // when never recorded), and recording it.
  std::optional<std::string> Remembered(const std::string& name) const;
  void Remember(const std::string& name, const std::string& key) const;

  ClientServices services_;
  QWidget* window_;
  QTimer* timer_;
  bool asking_ = false;
  // The page the answers below are of; answers already there when the
  // program first sees a page are news only when newer than the last one
  // it knew of when it last ran.
  std::string watched_;
  bool seen_any_ = false;
  std::string last_seen_;
  // A page that asks nothing or takes no answers, as of which publication.
  std::string silent_;
  unsigned silent_since_ = 0;
  QPointer<QSystemTrayIcon> tray_;
  QPointer<QLabel> heart_;
};

}  // namespace heartpage
