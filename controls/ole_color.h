#pragma once

#include <QColor>
#include <QPalette>

#include "controls/property_bag.h"

namespace heartpage {

// The colour an OleColor stands for: 0x00BBGGRR as it is, 0x800000nn as the
// palette's nearest counterpart of system colour nn (18 button text, 5 window
// background, 8 window text, ...).
QColor ToQColor(OleColor color, const QPalette& palette);

}  // namespace heartpage
