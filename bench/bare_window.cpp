// The yardstick for bench/shell_startup.sh: a Qt program that only shows a
// plain frameless window of the main window's size (714 × 625), linked to
// Qt Widgets alone, timed and measured the same way as the real start-up.
#include <QApplication>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

#include "bench/startup_probe.h"

int main(int argc, char** argv) {
  using namespace heartpage::bench;
  const Clock::time_point at_main = Clock::now();
  Clock::time_point at_exec = at_main;
  if (const char* t0 = std::getenv("HEARTPAGE_BENCH_T0"))
    at_exec = Clock::time_point(std::chrono::nanoseconds(std::strtoll(t0, nullptr, 10)));
  QApplication app(argc, argv);
  QWidget window(nullptr, Qt::Window | Qt::FramelessWindowHint);
  window.setFixedSize(714, 625);
  ShowAndWaitForPaint(window);
  SaveMappingsIfAsked();
  std::printf("total %.1f ms: before main %.1f; resident %ld KB\n",
              MsBetween(at_exec, Clock::now()), MsBetween(at_exec, at_main), ResidentKb());
  return 0;
}
