#include "controls/window_placement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>
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

bool FitsAvailableArea(QSize designed, QSize frame) {
  const QRect available = AvailableArea();
  const QSize framed = designed + frame;
  return available.isEmpty() ||
         (framed.width() <= available.width() && framed.height() <= available.height());
}

QScrollArea* ScrollInside(QWidget* window, QWidget* surface, QSize designed) {
  auto* scroll = new QScrollArea(window);
  scroll->setObjectName(QStringLiteral("Scroll"));
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setFocusPolicy(Qt::NoFocus);
  surface->setFixedSize(designed);
  scroll->setWidget(surface);
  auto* fill = new QVBoxLayout(window);
  fill->setContentsMargins(0, 0, 0, 0);
  fill->setSpacing(0);
  fill->addWidget(scroll);
  return scroll;
}

void FitToAvailableArea(QWidget* window, QSize whole, QSize frame) {
  window->setMaximumSize(whole);
  const QRect available = AvailableArea();
  window->resize(available.isEmpty() ? whole : whole.boundedTo(available.size() - frame));
}

}  // namespace heartpage
