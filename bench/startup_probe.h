#pragma once

// What the start-up benchmarks measure: wall time from the moment the
// script took just before exec, the window's first paint, resident memory.
#include <QCoreApplication>
#include <QEvent>
#include <QWidget>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

namespace heartpage::bench {

using Clock = std::chrono::system_clock;

inline double MsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

inline long ResidentKb() {
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

// With HEARTPAGE_BENCH_SMAPS=FILE, the process's mappings once the window
// shows go to FILE, to see where the resident memory lies.
inline void SaveMappingsIfAsked() {
  if (const char* target = std::getenv("HEARTPAGE_BENCH_SMAPS"))
    std::ofstream(target) << std::ifstream("/proc/self/smaps").rdbuf();
}

// Shows `window` and returns once it has been painted.
inline void ShowAndWaitForPaint(QWidget& window) {
  struct PaintWatch : QObject {
    bool painted = false;
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Paint) painted = true;
      return false;
    }
  } watch;
  window.installEventFilter(&watch);
  window.show();
  while (!watch.painted) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  window.removeEventFilter(&watch);
}

}  // namespace heartpage::bench
