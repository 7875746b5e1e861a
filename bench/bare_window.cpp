// The yardstick for bench/shell_startup.sh: a Qt program that only shows a
// plain frameless window of the main window's size (714 × 625), linked to
// Qt Widgets alone, timed and measured the same way as the real start-up.
//
// With --essentials ARTWORK, the window also holds what the program cannot
// show its window without: libcurl opened and initialised (start-up asks the
// server before the window shows), the artwork painted, and a line of
// Chinese text in the program's faces. That is the floor under our start-up.
#include <dlfcn.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>

#include "bench/startup_probe.h"

namespace {

class ArtworkWindow : public QWidget {
 public:
  explicit ArtworkWindow(const char* artwork)
      : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), artwork_(artwork) {
    auto* line = new QLabel(QStringLiteral("文字+MV效果 心形+图片飘浮 公告"), this);
    QFont font;
    font.setFamilies({QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei")});
    font.setPointSizeF(14.25);
    line->setFont(font);
    line->move(20, 120);
  }

 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).drawImage(0, 0, artwork_); }

 private:
  QImage artwork_;
};

bool OpenCurl() {
  void* curl = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
  auto* init = curl ? reinterpret_cast<int (*)(long)>(dlsym(curl, "curl_global_init")) : nullptr;
  return init != nullptr && init(3 /* CURL_GLOBAL_DEFAULT */) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace heartpage::bench;
  const Clock::time_point at_main = Clock::now();
  Clock::time_point at_exec = at_main;
  if (const char* t0 = std::getenv("HEARTPAGE_BENCH_T0"))
    at_exec = Clock::time_point(std::chrono::nanoseconds(std::strtoll(t0, nullptr, 10)));
  const bool essentials = argc == 3 && std::strcmp(argv[1], "--essentials") == 0;
  // Opened beside the window's building, as the program does.
  std::future<bool> curl =
      std::async(std::launch::async, [essentials] { return !essentials || OpenCurl(); });
  QApplication app(argc, argv);
  std::unique_ptr<QWidget> window;
  if (essentials) {
    window = std::make_unique<ArtworkWindow>(argv[2]);
  } else {
    window = std::make_unique<QWidget>(nullptr, Qt::Window | Qt::FramelessWindowHint);
  }
  window->setFixedSize(714, 625);
  if (!curl.get()) {
    std::fprintf(stderr, "libcurl cannot be opened\n");
    return 1;
  }
  ShowAndWaitForPaint(*window);
  SaveMappingsIfAsked();
  std::printf("total %.1f ms: before main %.1f; resident %ld KB\n",
              MsBetween(at_exec, Clock::now()), MsBetween(at_exec, at_main), ResidentKb());
  return 0;
}
