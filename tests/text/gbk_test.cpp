#include "text/gbk.h"

#include <gtest/gtest.h>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

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

// The tables are generated when the library is built; ICU's own converter,
// asked here directly, must agree with them wherever code page 936 has a
// character of its own: Windows' bytes out, Windows' character in.
TEST(Gbk, AgreesWithCodePage936WhereItHasTheCharacter) {
  UErrorCode status = U_ZERO_ERROR;
  const std::unique_ptr<UConverter, void (*)(UConverter*)> converter(
      ucnv_open("windows-936", &status), ucnv_close);
  ASSERT_TRUE(U_SUCCESS(status));
  ucnv_setFallback(converter.get(), false);
  ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                        &status);
  const auto windows = [&](const std::string& utf8) {
    UChar units[2];
    int32_t count = 0;
    status = U_ZERO_ERROR;
    u_strFromUTF8(units, 2, &count, utf8.data(), static_cast<int32_t>(utf8.size()), &status);
    char bytes[4];
    status = U_ZERO_ERROR;
    const int32_t size = ucnv_fromUChars(converter.get(), bytes, 4, units, count, &status);
    return std::string(bytes, static_cast<std::size_t>(U_SUCCESS(status) ? size : 0));
  };
  int pairs = 0;
  for (char32_t cp = 0x80; cp < 0x10000; ++cp) {
    if ((cp >= 0xD800 && cp < 0xE000) || (cp >= 0xE000 && cp <= 0xF8FF)) continue;
    std::string text;
    AppendUtf8(text, cp);
    const std::string bytes = windows(text);
    if (bytes.size() != 2) continue;
    ++pairs;
    ASSERT_EQ(ToGbk(text), bytes) << "U+" << std::hex << static_cast<unsigned>(cp);
    ASSERT_EQ(FromGbk(bytes), text) << "U+" << std::hex << static_cast<unsigned>(cp);
  }
  EXPECT_GT(pairs, 21000);  // all of GBK's characters, not a few
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

// FromGbkExactly is the round trip's answer, however the bytes are made.
TEST(Gbk, ReadsExactlyWhatItWouldWriteAndNothingElse) {
  const auto round_trip = [](const std::string& bytes) -> std::optional<std::string> {
    std::string text = FromGbk(bytes);
    if (ToGbk(text) != bytes) return std::nullopt;
    return text;
  };
  std::vector<std::string> inputs = {"",
                                     "abc",
                                     "\x80",
                                     "\xFF",
                                     "ab\xD6",
                                     "\x81\x7F",
                                     "\x81\x30z",
                                     "\x81\x37\xC5\x38",
                                     "\xA1\xA1",
                                     "\xD6\xD0\x80x",
                                     "\x94\x39\xFC\x36",
                                     "\xD6\xD0\x94\x39\xFC\x36\xD6\xD0",
                                     "a\x81\x30\x81\x30"
                                     "b",
                                     "\xA1\xA4\xA1\xE3\xA1\xC1",
                                     "\x81\x30\x81\x29",
                                     "\x84\x31\xA5\x30",
                                     "\xE3\x32\x9A\x35",
                                     "\xE3\x32\x9A\x36",
                                     "\x81\x35\xF4\x37\xD6\xD0"};
  for (unsigned lead = 0x80; lead <= 0xFF; ++lead)
    for (unsigned trail = 0x30; trail <= 0xFF; ++trail)
      inputs.push_back("a" + std::string{static_cast<char>(lead), static_cast<char>(trail)} +
                       "\xD6\xD0");
  for (const std::string& bytes : inputs)
    ASSERT_EQ(FromGbkExactly(bytes), round_trip(bytes)) << ::testing::PrintToString(bytes);
}

}  // namespace
}  // namespace heartpage
