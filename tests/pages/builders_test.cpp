#include "pages/builders.h"

#include <gtest/gtest.h>

#include "pages/styles.h"
#include "pages/substitution.h"

namespace heartpage {
namespace {

std::string Build(int style, const FieldMap& fields) {
  return BuildPage(style, fields);
}

FieldMap Defaults(int style) {
  return FieldMap::Defaults(GetStyle(style));
}

// A value that no template, key or other marker contains.
std::string Marker(std::size_t row) {
  return "\x01" + std::to_string(row) + "\x02";
}

TEST(Builders, EveryKeyOccursAsOftenAsItsTableSaysAndNoneRemains) {
  for (int n = 1; n <= kStyleCount; ++n) {
    const Style& style = GetStyle(n);
    for (bool ticked : {false, true}) {
      if (ticked && !style.has_check) continue;
      FieldMap fields;
      fields.checked = ticked;
      for (std::size_t i = 0; i < style.rows.size(); ++i)
        fields.values[style.rows[i].Name()] = Marker(i);
      const std::string page = Build(n, fields);
      for (std::size_t i = 0; i < style.rows.size(); ++i) {
        const FieldRow& row = style.rows[i];
        // The floating picture's two keys live in the snippet only.
        const bool in_snippet = style.has_check && i < 2;
        const int expected = in_snippet && !ticked ? 0 : row.times;
        EXPECT_EQ(CountOccurrences(page, Marker(i)), static_cast<std::size_t>(expected))
            << "style " << n << (ticked ? " ticked" : "") << ", key " << row.key;
        EXPECT_EQ(CountOccurrences(page, row.key), 0u) << "style " << n << " left " << row.key;
      }
    }
  }
}

TEST(Builders, DefaultsLeaveNoKeyBehind) {
  for (int n = 1; n <= kStyleCount; ++n) {
    const std::string page = Build(n, Defaults(n));
    for (const FieldRow& row : GetStyle(n).rows)
      EXPECT_EQ(CountOccurrences(page, row.key), 0u) << "style " << n << " left " << row.key;
    EXPECT_EQ(Build(n, Defaults(n)), page) << "repeated builds of style " << n << " differ";
  }
}

TEST(Builders, CheckBoxPutsTheFloatingPictureInFront) {
  for (int n : {2, 3}) {
    FieldMap fields = Defaults(n);
    EXPECT_TRUE(Build(n, fields).starts_with("<!DOCTYPE")) << n;
    fields.checked = true;
    const std::string page = Build(n, fields);
    EXPECT_TRUE(page.starts_with("<script")) << n;
    EXPECT_NE(page.find(fields.Value(n == 2 ? "Text1(6)" : "Text1(20)")), std::string::npos);
  }
  // Other styles have no check box: ticking it changes nothing.
  FieldMap fields = Defaults(1);
  const std::string unticked = Build(1, fields);
  fields.checked = true;
  EXPECT_EQ(Build(1, fields), unticked);
}

TEST(Builders, LaterRowsRewriteWhatEarlierValuesInserted) {
  // Style 1: row 4's value holds row 10's key.
  FieldMap one = Defaults(1);
  one.values["Text1(3)"] = "<中间第一行>";
  one.values["Text1(9)"] = "FIRST";
  EXPECT_NE(Build(1, one).find("<FIRST>"), std::string::npos);

  // Style 2: "年年" typed into the letter becomes the year.
  FieldMap two = Defaults(2);
  two.values["Text1(2)"] = "since 年年!";
  two.values["Text1(4)"] = "1999";
  EXPECT_NE(Build(2, two).find("since 1999!"), std::string::npos);

  // Style 3: 日 anywhere becomes the day, 生日 included.
  FieldMap three = Defaults(3);
  three.values["Text1(2)"] = "生日快乐";
  three.values["Text1(19)"] = "7";
  EXPECT_NE(Build(3, three).find("生7快乐"), std::string::npos);

  // Style 8: "第5张" in row 3 becomes row 7's value; a leading zero never matches.
  FieldMap eight = Defaults(8);
  eight.values["Text1(2)"] = "[第5张][第05张]";
  eight.values["Text1(5)"] = "five";
  EXPECT_NE(Build(8, eight).find("[five][第05张]"), std::string::npos);
}

TEST(Builders, ValuesReachThePageAsTyped) {
  FieldMap fields = Defaults(1);
  fields.values["Text1(5)"] = "say \"hi\"\r\nnow";  // lands in a script string
  fields.values["Text1(6)"] = "鼠标右键提示";       // its own key: not expanded again
  fields.values["Text1(9)"] = "";                   // an empty field removes the key
  const std::string page = Build(1, fields);
  EXPECT_NE(page.find("\"say \"hi\"\r\nnow  \""), std::string::npos);
  EXPECT_EQ(CountOccurrences(page, "鼠标右键提示"), 1u);
  EXPECT_EQ(page.find("中间第一行<"), std::string::npos);

  // Style 4: a colour without "#" is completed by the template.
  FieldMap four = Defaults(4);
  four.values["Text8(44)"] = "FF0000";
  EXPECT_NE(Build(4, four).find("color: #FF0000"), std::string::npos);
}

TEST(Builders, LongValuesAreCarriedWhole) {
  FieldMap fields = Defaults(1);
  const std::string big(1 << 20, 'x');
  fields.values["Text1(2)"] = big;
  const std::string page = Build(1, fields);
  EXPECT_NE(page.find(big), std::string::npos);
  EXPECT_GT(page.size(), big.size());
}

TEST(Builders, UnknownStyleIsAnError) {
  EXPECT_THROW(BuildPage(0, FieldMap()), std::out_of_range);
  EXPECT_THROW(BuildPage(9, FieldMap()), std::out_of_range);
}

}  // namespace
}  // namespace heartpage
