#include "text/value_encoding.h"

#include <gtest/gtest.h>

#include <vector>

#include "text/gbk.h"

namespace heartpage {
namespace {

TEST(EncodeValue, WorkedExamples) {
  EXPECT_EQ(EncodeValue("abc"), "97A98A99");
  EXPECT_EQ(EncodeValue("a b"), "97A32A98");
  EXPECT_EQ(EncodeValue("中"), "-10544");
  EXPECT_EQ(EncodeValue("啊"), "-20319");
  EXPECT_EQ(EncodeValue("你好"), "-15133A-17725");
  EXPECT_EQ(EncodeValue(1), "49");
  EXPECT_EQ(EncodeValue(2), "50");
  EXPECT_EQ(EncodeValue("4"), "52");
  EXPECT_EQ(EncodeValue("'"), "39");
  EXPECT_EQ(EncodeValue("select * from 系统设置"),
            "115A101A108A101A99A116A32A42A32A102A114A111A109A32A-12363A-12877A-13848A-10557");
  EXPECT_EQ(EncodeValue(""), "");
  EXPECT_EQ(EncodeValue("a"), "97");
  EXPECT_EQ(EncodeValue(" "), "32");
  EXPECT_EQ(EncodeValue("\r\n"), "13A10");
  EXPECT_EQ(EncodeValue("\t"), "9");
  EXPECT_EQ(EncodeValue("Aa"), "65A97");
  EXPECT_EQ(EncodeValue("a中"), "97A-10544");
  EXPECT_EQ(EncodeValue(std::string(1, '\0')), "0");
  EXPECT_EQ(EncodeValue(-12), "45A49A50");
  // Code page 936 writes the euro sign as the single byte 0x80.
  EXPECT_EQ(EncodeValue("€"), "128");
}

TEST(EncodeValue, CharactersOutsideGbkKeepTheirGb18030Bytes) {
  // ❤ and emoji are what people type most in a love letter; they must not
  // turn into "?".
  EXPECT_EQ(EncodeValue("❤"), "-32457A-15048");  // 81 37 C5 38
  EXPECT_EQ(EncodeValue("♥"), "-32457A-21453");  // 81 37 AC 33
  EXPECT_EQ(EncodeValue("★"), "-24081");         // in GBK: one code, as before
  EXPECT_EQ(EncodeValue("😀"), "-27591A-970");    // 94 39 FC 36
  EXPECT_EQ(EncodeValue("a😀b"), "97A-27591A-970A98");
}

TEST(EncodeValue, BrokenTextBecomesQuestionMarks) {
  EXPECT_EQ(EncodeValue("\xED\xA0\x80"), "63");  // a lone surrogate
  EXPECT_EQ(EncodeValue("a\xFF"
                        "b"),
            "97A63A98");                        // not UTF-8 at all
  EXPECT_EQ(EncodeValue("\xE4\xB8"), "63A63");  // cut-off character
}

TEST(EncodeValue, EveryCharacterRoundTripsThroughTheServersDecoding) {
  // What the server does: codes back to bytes, bytes read as GBK/GB18030.
  std::vector<char32_t> characters;
  for (char32_t cp = 0; cp < 0x10000; ++cp)
    if (cp < 0xD800 || cp > 0xDFFF) characters.push_back(cp);
  for (char32_t cp : {0x1F600, 0x1F496, 0x20000, 0x10FFFF}) characters.push_back(cp);

  std::string all;
  std::string all_bytes;
  for (char32_t cp : characters) {
    std::string text;
    AppendUtf8(text, cp);
    const auto bytes = DecodeValue(EncodeValue(text));
    const auto code = static_cast<std::uint32_t>(cp);
    ASSERT_TRUE(bytes.has_value()) << std::hex << code;
    ASSERT_EQ(*bytes, ToGbk(text)) << std::hex << code;
    ASSERT_EQ(FromGbk(*bytes), text) << std::hex << code;
    all += text;
    all_bytes += *bytes;
  }
  // All of them as one value, as long as a page: written a piece at a time
  // without a character lost or doubled where the pieces meet.
  EXPECT_EQ(ToGbk(all), all_bytes);
  EXPECT_EQ(DecodeValue(EncodeValue(all)), all_bytes);
  EXPECT_EQ(FromGbk(all_bytes), all);
}

TEST(DecodeValue, InvertsTheEncoding) {
  EXPECT_EQ(DecodeValue("97A98A99"), "abc");
  EXPECT_EQ(DecodeValue("-10544"), "\xD6\xD0");
  EXPECT_EQ(DecodeValue(""), "");
  EXPECT_EQ(DecodeValue("0"), std::string(1, '\0'));
  EXPECT_EQ(DecodeValue("255"), "\xFF");
  EXPECT_EQ(DecodeValue("-32768"), std::string("\x80\x00", 2));
  EXPECT_EQ(DecodeValue("-1"), "\xFF\xFF");
  EXPECT_EQ(DecodeValue("000097"), "a");
  // Two bytes from every three characters, the densest a value can be.
  EXPECT_EQ(DecodeValue("-1A-1A-1A-1A-1A-1A-1A-1"), std::string(16, '\xFF'));
}

TEST(DecodeValue, RefusesAnythingThatIsNotACodeList) {
  for (const char* bad : {"12A", "A", "-", "99999", "1e3", "256", "-32769", "+1", " 1", "1 ",
                          "1234567", "--1", "97AA98", "A97", "0x41", "9.5", "-0000000"}) {
    std::string error;
    EXPECT_FALSE(DecodeValue(bad, &error).has_value()) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

TEST(DecodeValue, ErrorNamesThePiece) {
  std::string error;
  ASSERT_FALSE(DecodeValue("97A300A98", &error));
  EXPECT_NE(error.find("300"), std::string::npos) << error;
  EXPECT_NE(error.find("range"), std::string::npos) << error;
}

}  // namespace
}  // namespace heartpage
