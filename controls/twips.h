#pragma once

#include <QRect>

// The windows were designed in twips, 15 to the pixel at the usual 96 dots
// per inch. Every window converts them here, with one rule: a measure drops
// its fraction of a pixel (truncation), as the editors and the upload dialog
// have always been laid out. Measures that are whole pixels, which is most of
// them, come out the same under any rule.
namespace heartpage {

inline constexpr int kTwipsPerPixel = 15;

constexpr int Px(int twips) {
  return twips / kTwipsPerPixel;
}

constexpr QRect PxRect(int left, int top, int width, int height) {
  return {Px(left), Px(top), Px(width), Px(height)};
}

}  // namespace heartpage
