#include "protocol/media_kind.h"

#include <gtest/gtest.h>

#include <string>

namespace heartpage {
namespace {

using namespace std::literals;

std::string Ext(std::string_view head) {
  const auto type = DetectMediaType(head);
  return type ? std::string(type->extension) : "-";
}

std::string Bytes(std::initializer_list<int> values, std::string_view tail = "") {
  std::string bytes;
  for (const int value : values) bytes += static_cast<char>(value);
  return bytes + std::string(tail);
}

// Each type by its own signature, whatever the name; near misses are nothing.
TEST(MediaKindTest, TellsEachTypeByItsBytesAndRefusesNearMisses) {
  EXPECT_EQ(Ext(Bytes({0xFF, 0xD8, 0xFF, 0xE0})), "jpg");
  EXPECT_EQ(Ext("\x89PNG\r\n\x1A\n...."), "png");
  EXPECT_EQ(Ext("GIF89a.."), "gif");
  EXPECT_EQ(Ext("RIFF\x10\0\0\0WEBPVP8 "sv), "webp");
  EXPECT_EQ(Ext("RIFF\x10\0\0\0WAVEfmt "sv), "-");
  EXPECT_EQ(Ext("ID3\x04\0\0\0\0\0\0"sv), "mp3");
  EXPECT_EQ(Ext(Bytes({0xFF, 0xFB, 0x90, 0x64})), "mp3");  // MPEG-1 layer III, 128 kbit/s
  EXPECT_EQ(Ext(Bytes({0xFF, 0xFB, 0xF0, 0x64})), "-");    // bitrate index 15 is invalid
  EXPECT_EQ(Ext(Bytes({0xFF, 0xFD, 0x90, 0x64})), "-");    // layer II
  EXPECT_EQ(Ext(Bytes({0xFF, 0xF1, 0x50, 0x80})), "aac");  // ADTS
  EXPECT_EQ(Ext(Bytes({0, 0, 0, 0x20}, "ftypM4A \0\0\0\0M4A mp42isom"sv)), "m4a");
  EXPECT_EQ(Ext(Bytes({0, 0, 0, 0x20}, "ftypisom\0\0\x02\0isomiso2avc1mp41"sv)), "mp4");
  EXPECT_EQ(Ext(Bytes({0, 0, 0, 0x14}, "ftypqt  \0\0\0\0qt  "sv)), "-");  // QuickTime
  EXPECT_EQ(Ext("OggS\0\x02"sv), "ogg");
  EXPECT_EQ(
      Ext(Bytes({0x1A, 0x45, 0xDF, 0xA3, 0x9F, 0x42, 0x86, 0x81, 0x01, 0x42, 0x82, 0x84}, "webm")),
      "webm");
  EXPECT_EQ(Ext(Bytes({0x1A, 0x45, 0xDF, 0xA3, 0x9F, 0x42, 0x82, 0x88}, "matroska")), "-");
  EXPECT_EQ(Ext("<html>not a picture</html>"), "-");
  EXPECT_EQ(Ext(""), "-");
}

TEST(MediaKindTest, PublicNamesAreAHashAndAKnownExtension) {
  const std::string hash(64, 'a');
  EXPECT_EQ(MediaTypeOfName(hash + ".webm")->content_type, "video/webm");
  EXPECT_EQ(MediaTypeOfName(hash + ".mp3")->kind, MediaKind::kMusic);
  EXPECT_FALSE(MediaTypeOfName(hash + ".exe"));
  EXPECT_FALSE(MediaTypeOfName(std::string(64, 'A') + ".png"));
  EXPECT_FALSE(MediaTypeOfName(std::string(63, 'a') + ".png"));
  EXPECT_FALSE(MediaTypeOfName(hash + ".png/../x"));
}

}  // namespace
}  // namespace heartpage
