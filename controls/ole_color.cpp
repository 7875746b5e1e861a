#include "controls/ole_color.h"

namespace heartpage {
namespace {

QColor SystemColor(unsigned index, const QPalette& palette) {
  switch (index) {
    case 1:
      return palette.color(QPalette::Window);  // desktop
    case 2:
    case 13:
      return palette.color(QPalette::Highlight);
    case 3:
    case 17:
      return palette.color(QPalette::Disabled, QPalette::Text);
    case 5:
      return palette.color(QPalette::Base);
    case 6:
    case 21:
      return palette.color(QPalette::Shadow);
    case 7:
    case 8:
      return palette.color(QPalette::Text);
    case 9:
    case 14:
      return palette.color(QPalette::HighlightedText);
    case 15:
      return palette.color(QPalette::Button);
    case 16:
      return palette.color(QPalette::Dark);
    case 18:
      return palette.color(QPalette::ButtonText);
    case 20:
      return palette.color(QPalette::Light);
    case 22:
      return palette.color(QPalette::Midlight);
    case 23:
      return palette.color(QPalette::ToolTipText);
    case 24:
      return palette.color(QPalette::ToolTipBase);
    default:
      return palette.color(QPalette::Window);
  }
}

}  // namespace

QColor ToQColor(OleColor color, const QPalette& palette) {
  if ((color.value & 0x80000000u) != 0) return SystemColor(color.value & 0xFFu, palette);
  return QColor(color.value & 0xFF, (color.value >> 8) & 0xFF, (color.value >> 16) & 0xFF);
}

}  // namespace heartpage
