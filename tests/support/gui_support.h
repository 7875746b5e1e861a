#pragma once

// What the window tests share: one QApplication on the offscreen platform, one
// heartpage-server on a free loopback port for the whole test program (the
// publishing host points at it before any page is built), pages read back
// over HTTP, and a poster that records what the dialog sends.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/server_requests.h"
#include "publish/client_services.h"
#include "publish/upload_dialog.h"
#include "tests/support/client_services.h"
#include "tests/support/http_get.h"
#include "tests/support/loopback_listener.h"
#include "tests/support/server_process.h"

namespace heartpage::testing {

// The application object, made on first use and ended by the environment
// below: left to the static destructors, it would outlive parts of Qt.
inline QApplication& App() {
  static int argc = 1;
  static char name[] = "heartpage-window-tests";
  static char* argv[] = {name, nullptr};
  if (qApp == nullptr) {
    // What the windows keep for the user (the editors' drafts) goes to a
    // data folder of this test program's own, not the user's, and goes
    // with it.
    static QTemporaryDir data;
    setenv("XDG_DATA_HOME", data.path().toLocal8Bit().constData(), 1);
    new QApplication(argc, argv);
  }
  return *static_cast<QApplication*>(QCoreApplication::instance());
}

class ServerEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    data_ = std::make_unique<TempDir>();
    server_ = std::make_unique<ServerProcess>(HEARTPAGE_SERVER, data_->path());
    setenv("HEARTPAGE_HOST", server_->host().c_str(), 1);
    App();
  }
  void TearDown() override {
    for (QWidget* window : QApplication::topLevelWidgets()) delete window;
    delete &App();
    server_.reset();
    data_.reset();
  }

 private:
  std::unique_ptr<TempDir> data_;
  std::unique_ptr<ServerProcess> server_;
};

using testing_support::Fetch;

// A loopback address where nothing listens.
inline std::string DeadEndpoint() {
  return "http://127.0.0.1:" + std::to_string(LoopbackListener::ClosedPort()) + "/asp/index.asp";
}

// Sends to the real server and keeps every body; `before` runs ahead of each
// request, so a test can act while the dialog waits for its answer. Made
// with these services, a window keeps them: a test steers them through
// these members.
struct RecordingServices {
  std::vector<std::string> sent;
  std::function<void(const std::string& body)> before;
  // When set, answers in the server's place.
  std::function<PostResult(const std::string& body)> answer;
  std::string machine_id = "test-machine";
  std::mutex sent_lock;

  // The quiet services, with these posts and this machine identifier.
  ClientServices Services() {
    ClientServices services = QuietServices();
    services.post = [this](const std::string& body, const PostLimits& limits) {
      {
        // A window may ask two things at once (its page online and what
        // came back from it), each from a thread of the pool.
        const std::lock_guard hold(sent_lock);
        sent.push_back(body);
      }
      if (before) before(body);
      if (answer) return answer(body);
      return PostFormChecked(EndpointAddress(), body, limits);
    };
    services.machine_id = [this] { return machine_id; };
    return services;
  }
};

// Until no window shows the busy cursor: what the windows asked of the
// server in the background has had its answer on them.
inline bool Settle(int timeout_ms = 20'000) {
  return QTest::qWaitFor(
      [] {
        for (QWidget* window : QApplication::topLevelWidgets())
          if (window->testAttribute(Qt::WA_SetCursor) && window->cursor().shape() == Qt::BusyCursor)
            return false;
        return true;
      },
      timeout_ms);
}

// Until everything the windows started on the pool, a dialog's look at the
// page online included, has finished and its answer is on them.
inline void Drain() {
  QThreadPool::globalInstance()->waitForDone();
  QCoreApplication::sendPostedEvents();
}

// Clicks and waits for what the click started.
inline void Press(QAbstractButton* button) {
  button->click();
  EXPECT_TRUE(Settle());
}

// Closes every window and lets Qt delete them.
inline void CloseAllWindows() {
  for (QWidget* window : QApplication::topLevelWidgets()) window->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Answers the box of findings of the checks before preview and upload
// whenever one shows, with the button named, and keeps what each said.
class FindingsAnswerer {
 public:
  FindingsAnswerer() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || box->objectName() != "FieldFindings") return;
      texts.push_back(box->text());
      QStringList offered;
      for (QAbstractButton* button : box->buttons()) offered << button->text();
      choices.push_back(offered);
      for (QAbstractButton* button : box->buttons())
        if (button->text() == answer) button->click();
    });
    timer_.start(10);
  }
  QString answer;
  std::vector<QString> texts;
  // The buttons each box offered.
  std::vector<QStringList> choices;

 private:
  QTimer timer_;
};

}  // namespace heartpage::testing
