#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

class QScrollArea;
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

// Whether a window whose client area is `designed`, with `frame` for its title
// bar and borders, fits the available area (also where none is known).
bool FitsAvailableArea(QSize designed, QSize frame);

// For a window that does not fit: `surface`, fixed at `designed`, scrolls
// inside a frameless scroll area that fills `window` in a column (no
// margins, no spacing), to which the caller may add what is to stay in
// sight. The scroll area takes no focus of its own.
QScrollArea* ScrollInside(QWidget* window, QWidget* surface, QSize designed);

// Sizes such a window: `whole` where that fits (what shows everything
// without scrolling, and the most it may grow to), else as large as the
// available area allows, less `frame`.
void FitToAvailableArea(QWidget* window, QSize whole, QSize frame);

}  // namespace heartpage
