#include "controls/chinese_font.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "tests/support/qt_environment.h"

namespace heartpage {
namespace {

// Whether `text`, drawn black on white in `font`, shows a strong red
// anywhere: a colour emoji, not a black outline.
bool DrawsInColour(const QFont& font, const QString& text) {
  QImage image(64, 40, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setFont(font);
  painter.setPen(Qt::black);
  painter.drawText(image.rect(), Qt::AlignCenter, text);
  painter.end();
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.red() > 180 && c.green() < 110 && c.blue() < 130) return true;
    }
  return false;
}

TEST(ChineseFont, HeartsAndFacesShowInColour) {
  for (const ChineseFace face : {ChineseFace::kHeiTi, ChineseFace::kSongTi}) {
    const QFont font = ChineseFont(face, 12);
    EXPECT_TRUE(DrawsInColour(font, QStringLiteral("❤"))) << static_cast<int>(face);
    EXPECT_TRUE(DrawsInColour(font, QStringLiteral("😘"))) << static_cast<int>(face);
    EXPECT_FALSE(DrawsInColour(font, QStringLiteral("520 表白"))) << "digits stay plain";
  }
}

}  // namespace
}  // namespace heartpage
