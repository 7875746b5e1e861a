#include "controls/chinese_font.h"

#include <QStringList>

namespace heartpage {
namespace {

// Hearts and faces typed into the fields come from a colour emoji face, as
// people see them on their phones, before any face that draws them in black.
// The emoji faces come after the Chinese ones, which have their own digits.
const QStringList& EmojiFaces() {
  static const QStringList faces = {QStringLiteral("Noto Color Emoji"),
                                    QStringLiteral("Segoe UI Emoji")};
  return faces;
}

}  // namespace

QFont ChineseFont(ChineseFace face, double point_size) {
  QFont font;
  if (face == ChineseFace::kHeiTi) {
    font.setFamilies(QStringList{QStringLiteral("黑体"), QStringLiteral("SimHei"),
                                 QStringLiteral("Noto Sans CJK SC"),
                                 QStringLiteral("WenQuanYi Micro Hei"),
                                 QStringLiteral("Droid Sans Fallback")} +
                     EmojiFaces());
    font.setStyleHint(QFont::SansSerif);
  } else {
    font.setFamilies(
        QStringList{QStringLiteral("宋体"), QStringLiteral("SimSun"),
                    QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC"),
                    QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Droid Sans Fallback")} +
        EmojiFaces());
    font.setStyleHint(QFont::Serif);
  }
  font.setPointSizeF(point_size);
  font.setWeight(QFont::Normal);
  return font;
}

}  // namespace heartpage
