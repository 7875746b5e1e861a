#include "text/gbk.h"

#include <gtest/gtest.h>

namespace heartpage {
namespace {

TEST(Gbk, WritesCodePage936BytesAndGb18030ForWhatItLacks) {
  EXPECT_EQ(ToGbk("abc"), "abc");
  EXPECT_EQ(ToGbk("中啊"), "\xD6\xD0\xB0\xA1");
  EXPECT_EQ(ToGbk("€"), "\x80");
  EXPECT_EQ(ToGbk("，"), "\xA3\xAC");
  // The record separators of server answers.
  EXPECT_EQ(ToGbk("いゼ"), "\xA4\xA4\xA5\xBC");
  // GB18030 for what code page 936 lacks.
  EXPECT_EQ(ToGbk("❤"), "\x81\x37\xC5\x38");
  EXPECT_EQ(ToGbk("😀"), "\x94\x39\xFC\x36");
  EXPECT_EQ(ToGbk("\xED\xB0\x80"), "?");   // a lone surrogate
  EXPECT_EQ(ToGbk("x\xC0\xAFy"), "x??y");  // an overlong form is not UTF-8
}

TEST(Gbk, ReadsCodePage936AndGb18030) {
  EXPECT_EQ(FromGbk("\xD6\xD0\xB0\xA1"), "中啊");
  EXPECT_EQ(FromGbk("\x80"), "€");
  EXPECT_EQ(FromGbk("\x81\x37\xC5\x38"), "❤");
  EXPECT_EQ(FromGbk("\x94\x39\xFC\x36"), "😀");
  EXPECT_EQ(FromGbk(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(Gbk, EveryCharacterReadsBackAsItself) {
  // Pairs that code page 936 gives to private-use characters and GB18030 to
  // real ones read as GB18030 reads them, as browsers do.
  EXPECT_EQ(FromGbk("\xFE\x50"), "⺁");
  EXPECT_EQ(FromGbk("\xA8\xBC"), "ḿ");
  for (char32_t cp = 1; cp < 0x10000; ++cp) {
    if (cp >= 0xD800 && cp < 0xE000) continue;
    std::string text;
    AppendUtf8(text, cp);
    ASSERT_EQ(FromGbk(ToGbk(text)), text) << "U+" << std::hex << static_cast<unsigned>(cp);
  }
}

TEST(Gbk, MarksUnreadableBytesWithoutSwallowingText) {
  EXPECT_EQ(FromGbk("\xFF"), "\xEF\xBF\xBD");
  EXPECT_EQ(FromGbk("ab\xD6"), "ab\xEF\xBF\xBD");      // cut after a lead byte
  EXPECT_EQ(FromGbk("\x81\x7F"), "\xEF\xBF\xBD\x7F");  // ASCII after a lead byte survives
  EXPECT_EQ(FromGbk("\x81\x30"
                    "z"),
            "\xEF\xBF\xBD"
            "0z");  // a cut-off four-byte form
}

}  // namespace
}  // namespace heartpage
