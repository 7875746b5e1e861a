#include "pages/placement.h"

#include <gtest/gtest.h>

#include "pages/styles.h"
#include "pages/templates.h"

namespace heartpage {
namespace {

std::string Templates(int style) {
  const Style& s = GetStyle(style);
  return (s.has_check ? std::string(FloatingPictureTemplate()) : std::string()) +
         std::string(StyleTemplate(style));
}

// Every key of every template stands where a value can be written safely,
// and the scanner reads the places that the pages' scripts and markup give
// them.
TEST(Placement, EveryPlaceholderOfEveryTemplateHasAKnownPlace) {
  for (int n = 1; n <= kStyleCount; ++n) {
    const std::string page = Templates(n);
    for (const FieldRow& row : GetStyle(n).rows)
      for (const Placement& place : PlacementsOf(page, row.key))
        EXPECT_NE(place.slot, Slot::kOther) << "style " << n << " key " << row.key;
  }
  using P = Placement;
  const struct {
    int style;
    const char* key;
    std::vector<Placement> places;
  } kExpected[] = {
      {1, "浏览器标题", {P{Slot::kTitle}}},
      {1, "鼠标跟随文字", {P{Slot::kScriptString, '"'}}},
      {1, "鼠标右键提示", {P{Slot::kScriptString, '\'', '"'}}},
      {1, "中间图片地址", {P{Slot::kAddress, 0, '"'}, P{Slot::kAddress, 0, '"'}}},
      {1, "对方名字", {P{Slot::kText}}},
      {2, "图片地址1", {P{Slot::kAddress, 0, '"'}}},
      {2, "年年", {P{Slot::kScriptCode}}},
      {3, "年", {P{Slot::kScriptCode}, P{Slot::kScriptComment}}},
      {4, "背景颜色", {P{Slot::kStyleSheet}, P{Slot::kStyleSheet}}},
      {4, "文字颜色", {P{Slot::kStyleSheet}}},
      {5, "左第9行", {P{Slot::kAddressPart, 0, '"'}, P{Slot::kAddressPart, 0, '"'}}},
      {5, "左第1行", {P{Slot::kScriptString, '"'}}},
      {5, "左第18行", {P{Slot::kText}}},
      {6, "第1张", {P{Slot::kScriptString, '\''}}},
      {6, "鼠标右键", {P{Slot::kScriptString, '\''}}},
      {8, "第20张", {P{Slot::kScriptString, '"'}}},
  };
  for (const auto& expected : kExpected)
    EXPECT_EQ(PlacementsOf(Templates(expected.style), expected.key), expected.places)
        << "style " << expected.style << " key " << expected.key;
}

// What the templates do not show today but an edit of them may: the
// scanner follows the browser's reading, not the look of the text.
TEST(Placement, ReadsPagesAsBrowsersDo) {
  const struct {
    const char* page;
    Slot slot;
  } kCases[] = {
      // A script element ends at its end tag, even inside a string.
      {"<script>var s = \"</script>KEY", Slot::kText},
      // A quote inside a regular expression starts no string, one after a
      // division does not start a regular expression.
      {"<script>var r = /[\"']/g; var a = 1 / 2; var s = 'KEY", Slot::kScriptString},
      {"<script>var r = x / 2 / 'KEY'", Slot::kScriptString},
      {"<script>return /KEY/", Slot::kOther},
      {"<script>/* 'KEY */", Slot::kScriptComment},
      {"<script>// 'x'\nf('KEY", Slot::kScriptString},
      {"<!-- <title>KEY -->", Slot::kOther},
      {"<!-- x --><TITLE>KEY", Slot::kTitle},
      {"<title>a</title>KEY", Slot::kText},
      {"<a title='x' href=\"KEY", Slot::kAddress},
      {"<a href=\"http://KEY", Slot::kAddressPart},
      {"<a href=KEY", Slot::kOther},
      {"<p style=\"color: KEY", Slot::kStyleSheet},
      {"<style>p { content: 'KEY", Slot::kOther},
      {"<style>p { color: KEY", Slot::kStyleSheet},
      {"<body onload='f(\"KEY", Slot::kScriptString},
      {"<textarea><b title=\"KEY", Slot::kTitle},
      {"a < b KEY", Slot::kText},
  };
  for (const auto& c : kCases) {
    const std::vector<Placement> places = PlacementsOf(c.page, "KEY");
    ASSERT_EQ(places.size(), 1u) << c.page;
    EXPECT_EQ(places[0].slot, c.slot) << c.page;
  }
}

}  // namespace
}  // namespace heartpage
