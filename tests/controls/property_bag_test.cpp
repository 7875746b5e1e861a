#include "controls/property_bag.h"

#include <gtest/gtest.h>

#include "tests/support/qt_environment.h"

namespace heartpage {
namespace {

TEST(PropertyBag, ValuesEqualToTheirDefaultAreNotStored) {
  PropertyBag bag;
  bag.WriteProperty("Enabled", true, true);
  bag.WriteProperty("Style", std::int32_t{1}, std::int32_t{0});
  EXPECT_FALSE(bag.Contains("Enabled"));
  EXPECT_TRUE(bag.Contains("Style"));
  // Writing the default later removes the stored value.
  bag.WriteProperty("Style", std::int32_t{0}, std::int32_t{0});
  EXPECT_FALSE(bag.Contains("Style"));
  EXPECT_EQ(bag.Read<std::int32_t>("Style", 7), 7);
}

TEST(PropertyBag, EveryTypeSurvivesTheText) {
  QImage picture(3, 2, QImage::Format_RGB32);
  picture.fill(QColor(1, 2, 3));
  QFont font(QStringLiteral("Noto Sans CJK SC"), 12);
  PropertyBag bag;
  bag.WriteProperty("b", false);
  bag.WriteProperty("i", std::int16_t{-32768});
  bag.WriteProperty("l", std::int32_t{2147483647});
  bag.WriteProperty("c", OleColor{0x80000012});
  bag.WriteProperty("s", std::string("公告\\n\t\r\n末"));
  bag.WriteProperty("p", picture);
  bag.WriteProperty("f", font);
  const PropertyBag read = PropertyBag::FromText(bag.ToText());
  EXPECT_EQ(read.Names(), bag.Names());
  EXPECT_FALSE(read.Read<bool>("b", true));
  EXPECT_EQ(read.Read<std::int16_t>("i", 0), -32768);
  EXPECT_EQ(read.Read<std::int32_t>("l", 0), 2147483647);
  EXPECT_EQ(read.Read<OleColor>("c", {}), OleColor{0x80000012});
  EXPECT_EQ(read.Read<std::string>("s", {}), "公告\\n\t\r\n末");
  EXPECT_EQ(read.Read<QImage>("p", {}).convertToFormat(QImage::Format_RGB32), picture);
  EXPECT_EQ(read.Read<QFont>("f", {}), font);
  EXPECT_EQ(read.ToText(), bag.ToText());
}

TEST(PropertyBag, BrokenTextIsRefusedWithTheLine) {
  const char* broken[] = {
      "",
      "not a bag\n",
      "HeartPage property bag 1\nStyle\tLong\n",
      "HeartPage property bag 1\nStyle\tLong\tmany\n",
      "HeartPage property bag 1\nStyle\tLong\t99999999999\n",
      "HeartPage property bag 1\nStyle\tInteger\t40000\n",
      "HeartPage property bag 1\nStyle\tDouble\t1\n",
      "HeartPage property bag 1\nEnabled\tBoolean\tyes\n",
      "HeartPage property bag 1\nCaption\tString\tends in \\\n",
      "HeartPage property bag 1\nCaption\tString\tnot in a script \\u0041\n",
      "HeartPage property bag 1\nBackPicture\tPicture\tbm90IGEgcGljdHVyZQ==\n",
      "HeartPage property bag 1\nStyle\tLong\t1\nStyle\tLong\t2\n",
  };
  for (const char* text : broken)
    EXPECT_THROW(PropertyBag::FromText(text), PropertyBagError) << text;
  try {
    PropertyBag::FromText("HeartPage property bag 1\nA\tLong\t1\nB\tLong\tx\n");
  } catch (const PropertyBagError& error) {
    EXPECT_NE(std::string(error.what()).find("line 3"), std::string::npos) << error.what();
  }
}

TEST(PropertyBag, WindowsLineEndsAndBlankLinesAreRead) {
  const PropertyBag bag =
      PropertyBag::FromText("HeartPage property bag 1\r\n\r\nCaption\tString\tx\r\n");
  EXPECT_EQ(bag.Read<std::string>("Caption", {}), "x");
}

}  // namespace
}  // namespace heartpage
