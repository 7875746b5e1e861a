#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace heartpage {

// Where a window's frame of `frame` goes in a screen's available area: centred
// on each axis where it fits, else at the area's left or top edge, so that the
// title bar and the top-left controls stay on the screen.
QPoint PlacedTopLeft(QSize frame, const QRect& available);

// The available area (without panels and docks) of the screen a new window
// opens on.
QRect AvailableArea();

// Moves a top-level window there (its frame, when it has one).
void PlaceOnScreen(QWidget* window);

// Places `window` with PlaceOnScreen when it is first shown, once: where the
// user moves it afterwards, it stays, hidden and shown again included.
void PlaceOnFirstShow(QWidget* window);

}  // namespace heartpage
