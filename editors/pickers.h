#pragma once

#include <QString>

class QColor;
class QLineEdit;
class QToolButton;
class QWidget;

// The buttons beside date parts and colour boxes that fill them from a
// chooser. The boxes stay as editable as before; a chooser only writes them.
namespace heartpage {

// "DatePicker": opens a calendar on the date the boxes hold (today when they
// hold none); a day picked there fills the three boxes, the month as the
// calendar numbers it.
QToolButton* MakeCalendarButton(QWidget* parent, QLineEdit* year, QLineEdit* month, QLineEdit* day);

// "ColourPicker(N)" for the box Text…(N): shows the box's colour and opens
// the colour chooser on it; a colour chosen there is written into the box.
QToolButton* MakeColourButton(QWidget* parent, QLineEdit* box, int index);

// How a chosen colour is written: "#RRGGBB" in capitals, as the templates'
// defaults are, or "#RGB" where the box held that short form and the colour
// has one.
QString ColourText(const QColor& colour, const QString& current);

}  // namespace heartpage
