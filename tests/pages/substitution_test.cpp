#include "pages/substitution.h"

#include <gtest/gtest.h>

namespace heartpage {
namespace {

std::string Replaced(std::string text, std::string_view key, std::string_view value) {
  ReplaceAll(text, key, value);
  return text;
}

TEST(ReplaceAll, ReplacesEveryOccurrenceLeftToRightWithoutOverlap) {
  EXPECT_EQ(Replaced("a-KEY-b-KEY", "KEY", "v"), "a-v-b-v");
  EXPECT_EQ(Replaced("aaaa", "aa", "b"), "bb");
  EXPECT_EQ(Replaced("aaa", "aa", "b"), "ba");
  EXPECT_EQ(Replaced("第1行第10行", "第1行", "X"), "X第10行");
}

TEST(ReplaceAll, NeverRescansWhatItInserted) {
  EXPECT_EQ(Replaced("[对方名字]", "对方名字", "对方名字的对方名字"), "[对方名字的对方名字]");
  EXPECT_EQ(Replaced("ab", "ab", "aab"), "aab");
}

TEST(ReplaceAll, ComparesBytesExactly) {
  EXPECT_EQ(Replaced("Key key KEY", "key", "x"), "Key x KEY");
  EXPECT_EQ(Replaced("ＡＢ AB", "AB", "x"), "ＡＢ x");  // no width folding
}

TEST(ReplaceAll, DegenerateCases) {
  std::string text = "unchanged";
  EXPECT_EQ(ReplaceAll(text, "absent", "x"), 0u);
  EXPECT_EQ(text, "unchanged");
  EXPECT_EQ(ReplaceAll(text, "", "x"), 0u);
  EXPECT_EQ(Replaced("a<KEY>b", "KEY", ""), "a<>b");
  EXPECT_EQ(Replaced("", "KEY", "x"), "");
  EXPECT_EQ(Replaced("KEY", "KEY", "line\r\nbreak"), "line\r\nbreak");
}

}  // namespace
}  // namespace heartpage
