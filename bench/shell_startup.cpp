// Time from process start to the main window painted, against the publishing
// server named by HEARTPAGE_HOST, with the share of the start-up requests,
// and the resident memory once the window shows. bench/shell_startup.sh runs
// it against a local server; HEARTPAGE_BENCH_T0 (ns since the epoch, taken
// just before exec) lets it count the time before main() too.
#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/desktop_services.h"
#include "app/main_window.h"
#include "bench/startup_probe.h"
#include "controls/chinese_font.h"
#include "controls/qt_translations.h"
#include "net/curl_library.h"
#include "net/form_post.h"
#include "net/server_requests.h"

namespace {

using heartpage::bench::Clock;
using heartpage::bench::MsBetween;
using heartpage::bench::ResidentKb;
using heartpage::bench::SaveMappingsIfAsked;
using heartpage::bench::ShowAndWaitForPaint;

}  // namespace

int main(int argc, char** argv) {
  const Clock::time_point at_main = Clock::now();
  Clock::time_point at_exec = at_main;
  if (const char* t0 = std::getenv("HEARTPAGE_BENCH_T0"))
    at_exec = Clock::time_point(std::chrono::nanoseconds(std::strtoll(t0, nullptr, 10)));

  // The same set-up as the program's main().
  heartpage::OpenCurlInBackground();
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  heartpage::InstallQtChineseTranslations();
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/heartpage/icon.ico")));
  QApplication::setFont(heartpage::ChineseFont(heartpage::ChineseFace::kSongTi, 9));
  const Clock::time_point at_app = Clock::now();

  std::vector<double> requests;
  QTemporaryDir lock_dir;
  heartpage::ClientServices services = heartpage::DesktopServices();
  services.post = [&, post = services.post](const std::string& body,
                                            const heartpage::PostLimits& limits) {
    const Clock::time_point start = Clock::now();
    heartpage::PostResult result = post(body, limits);
    requests.push_back(MsBetween(start, Clock::now()));
    return result;
  };
  services.instance_directory = lock_dir.path().toStdString();
  heartpage::MainWindow window(services);
  const Clock::time_point at_built = Clock::now();
  std::optional<bool> shown;
  window.Load([&](bool show) { shown = show; });
  while (!shown) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  if (!*shown) {
    std::fprintf(stderr, "start-up refused to show the window (is the server running?)\n");
    return 1;
  }
  const Clock::time_point at_loaded = Clock::now();
  ShowAndWaitForPaint(window);
  const Clock::time_point at_shown = Clock::now();

  SaveMappingsIfAsked();
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
