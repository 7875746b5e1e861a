#pragma once

#include <array>

class QLineEdit;
class QWidget;

// The strip under every editor's designed area where the sender may ask the
// reader one question ("问TA一句") and word the two answers the page offers.
namespace heartpage {

// Its height in twips, added below each window's designed client area.
inline constexpr int kQuestionBarHeight = 600;

// The strip across `parent` from `top` (pixels), `width` pixels wide: the
// boxes Question, Answer1 and Answer2, in that order, empty.
std::array<QLineEdit*, 3> AddQuestionBar(QWidget* parent, int top, int width);

}  // namespace heartpage
