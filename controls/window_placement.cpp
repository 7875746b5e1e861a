#include "controls/window_placement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace heartpage {
namespace {

// Lives as the window's child and goes after the first show.
class FirstShowPlacer : public QObject {
 public:
  explicit FirstShowPlacer(QWidget* window) : QObject(window) { window->installEventFilter(this); }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show && watched == parent()) {
      watched->removeEventFilter(this);
      PlaceOnScreen(static_cast<QWidget*>(watched));
      deleteLater();
    }
    return false;
  }
};

}  // namespace

QPoint PlacedTopLeft(QSize frame, const QRect& available) {
  const auto axis = [](int size, int start, int room) {
    return size >= room ? start : start + (room - size) / 2;
  };
  return {axis(frame.width(), available.left(), available.width()),
          axis(frame.height(), available.top(), available.height())};
}

QRect AvailableArea() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->availableGeometry() : QRect();
}

void PlaceOnScreen(QWidget* window) {
  const QRect available = AvailableArea();
  if (available.isEmpty()) return;
  // move() places a window's frame, as frameGeometry() measures it.
  window->move(PlacedTopLeft(window->frameGeometry().size(), available));
}

void PlaceOnFirstShow(QWidget* window) {
  new FirstShowPlacer(window);
}

}  // namespace heartpage
