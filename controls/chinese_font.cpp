#include "controls/chinese_font.h"

#include <QStringList>

namespace heartpage {

QFont ChineseFont(ChineseFace face, double point_size) {
  QFont font;
  if (face == ChineseFace::kHeiTi) {
    font.setFamilies({QStringLiteral("黑体"), QStringLiteral("SimHei"),
                      QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei"),
                      QStringLiteral("Droid Sans Fallback")});
    font.setStyleHint(QFont::SansSerif);
  } else {
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"),
                      QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("WenQuanYi Micro Hei"),
                      QStringLiteral("Droid Sans Fallback")});
    font.setStyleHint(QFont::Serif);
  }
  font.setPointSizeF(point_size);
  font.setWeight(QFont::Normal);
  return font;
}

}  // namespace heartpage
