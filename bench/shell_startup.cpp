// Time from process start to the main window painted, against the publishing
// server named by HEARTPAGE_HOST, with the share of the start-up requests,
// and the resident memory once the window shows. bench/shell_startup.sh runs
// it against a local server; HEARTPAGE_BENCH_T0 (ns since the epoch, taken
// just before exec) lets it count the time before main() too.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "controls/chinese_font.h"
#include "net/form_post.h"
#include "net/server_requests.h"

namespace {

using Clock = std::chrono::system_clock;

double MsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

long ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> value;
      return value;
    }
    status.ignore(1 << 12, '\n');
  }
  return -1;
}

class PaintWatch : public QObject {
 public:
  bool painted = false;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) painted = true;
    return false;
  }
};

}  // namespace

int main(int argc, char** argv) {
  const Clock::time_point at_main = Clock::now();
  Clock::time_point at_exec = at_main;
  if (const char* t0 = std::getenv("HEARTPAGE_BENCH_T0"))
    at_exec = Clock::time_point(std::chrono::nanoseconds(std::strtoll(t0, nullptr, 10)));

  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setFont(heartpage::ChineseFont(heartpage::ChineseFace::kSongTi, 9));
  const Clock::time_point at_app = Clock::now();

  std::vector<double> requests;
  QTemporaryDir lock_dir;
  heartpage::MainWindowHooks hooks;
  hooks.post = [&](const std::string& body) {
    const Clock::time_point start = Clock::now();
    heartpage::PostResult result = heartpage::PostToEndpoint(body);
    requests.push_back(MsBetween(start, Clock::now()));
    return result;
  };
  hooks.lock_directory = lock_dir.path();
  heartpage::MainWindow window(hooks);
  const Clock::time_point at_built = Clock::now();
  std::optional<bool> shown;
  window.Load([&](bool show) { shown = show; });
  while (!shown) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  if (!*shown) {
    std::fprintf(stderr, "start-up refused to show the window (is the server running?)\n");
    return 1;
  }
  const Clock::time_point at_loaded = Clock::now();
  PaintWatch watch;
  window.installEventFilter(&watch);
  window.show();
  while (!watch.painted) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  const Clock::time_point at_shown = Clock::now();

  double request_total = 0;
  for (double ms : requests) request_total += ms;
  std::printf(
      "total %.1f ms: before main %.1f, QApplication %.1f, window built %.1f, start-up %.1f "
      "(%zu requests %.1f ms), shown and painted %.1f; resident %ld KB\n",
      MsBetween(at_exec, at_shown), MsBetween(at_exec, at_main), MsBetween(at_main, at_app),
      MsBetween(at_app, at_built), MsBetween(at_built, at_loaded), requests.size(), request_total,
      MsBetween(at_loaded, at_shown), ResidentKb());
  return 0;
}
