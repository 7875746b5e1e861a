#include "controls/window_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace heartpage {

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

}  // namespace heartpage
