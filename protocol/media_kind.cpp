#include "protocol/media_kind.h"

#include <array>

namespace heartpage {
namespace {

constexpr MediaType kJpeg{MediaKind::kPicture, "jpg", "image/jpeg"};
constexpr MediaType kPng{MediaKind::kPicture, "png", "image/png"};
constexpr MediaType kGif{MediaKind::kPicture, "gif", "image/gif"};
constexpr MediaType kWebp{MediaKind::kPicture, "webp", "image/webp"};
constexpr MediaType kMp3{MediaKind::kMusic, "mp3", "audio/mpeg"};
constexpr MediaType kAac{MediaKind::kMusic, "aac", "audio/aac"};
constexpr MediaType kM4a{MediaKind::kMusic, "m4a", "audio/mp4"};
constexpr MediaType kOgg{MediaKind::kMusic, "ogg", "audio/ogg"};
constexpr MediaType kMp4{MediaKind::kVideo, "mp4", "video/mp4"};
constexpr MediaType kWebm{MediaKind::kVideo, "webm", "video/webm"};
constexpr std::array kAll = {kJpeg, kPng, kGif, kWebp, kMp3, kAac, kM4a, kOgg, kMp4, kWebm};

unsigned Byte(std::string_view bytes, std::size_t at) {
  return at < bytes.size() ? static_cast<unsigned char>(bytes[at]) : 0x100;
}

bool At(std::string_view bytes, std::size_t at, std::string_view magic) {
  return bytes.size() >= at + magic.size() && bytes.substr(at, magic.size()) == magic;
}

// An MPEG audio frame header: the sync bits, a version that exists, a valid
// bitrate and sample rate. Layer III is MP3; layer "0" is AAC in ADTS.
std::optional<MediaType> AudioFrame(std::string_view bytes) {
  if (bytes.size() < 4 || Byte(bytes, 0) != 0xFF || (Byte(bytes, 1) & 0xE0) != 0xE0)
    return std::nullopt;
  const unsigned b1 = Byte(bytes, 1);
  const unsigned b2 = Byte(bytes, 2);
  if (((b1 >> 1) & 3) == 0) {
    // ADTS: twelve sync bits, layer 0, a sampling index of 0 to 12.
    if ((b1 & 0xF6) != 0xF0 || ((b2 >> 2) & 0xF) > 12) return std::nullopt;
    return kAac;
  }
  // Layer III of a version that exists, with a valid bitrate and rate.
  if (((b1 >> 3) & 3) == 1 || ((b1 >> 1) & 3) != 1) return std::nullopt;
  if ((b2 >> 4) == 0xF || (b2 >> 4) == 0 || ((b2 >> 2) & 3) == 3) return std::nullopt;
  return kMp3;
}

// The major and compatible brands of an ISO media file's "ftyp" box.
std::optional<MediaType> IsoMedia(std::string_view bytes) {
  if (!At(bytes, 4, "ftyp")) return std::nullopt;
  const std::size_t box = (std::size_t{Byte(bytes, 0)} << 24) | (Byte(bytes, 1) << 16) |
                          (Byte(bytes, 2) << 8) | Byte(bytes, 3);
  if (box < 16 || box > 1024) return std::nullopt;
  const std::string_view major = bytes.substr(8, 4);
  for (const std::string_view brand : {"M4A ", "M4B ", "M4P "})
    if (major == brand) return kM4a;
  // Most files name a video brand as their major one; some name a generic
  // one and list "avc1" or "mp42" among the compatible brands.
  for (const std::string_view brand :
       {"isom", "iso2", "iso4", "iso5", "iso6", "mp41", "mp42", "avc1", "dash", "MSNV", "M4V "})
    if (major == brand) return kMp4;
  return std::nullopt;
}

// EBML header whose DocType (element 0x4282) is "webm".
std::optional<MediaType> Webm(std::string_view bytes) {
  if (!At(bytes, 0, "\x1A\x45\xDF\xA3")) return std::nullopt;
  const std::size_t doc_type = bytes.substr(0, 64).find("\x42\x82");
  if (doc_type == std::string_view::npos) return std::nullopt;
  // The size is one byte (0x84 for four characters) before the text.
  if (At(bytes, doc_type + 2, "\x84webm")) return kWebm;
  return std::nullopt;
}

}  // namespace

std::optional<MediaType> DetectMediaType(std::string_view head) {
  head = head.substr(0, kMediaSniffBytes);
  if (At(head, 0, "\xFF\xD8\xFF")) return kJpeg;
  if (At(head, 0, "\x89PNG\r\n\x1A\n")) return kPng;
  if (At(head, 0, "GIF87a") || At(head, 0, "GIF89a")) return kGif;
  if (At(head, 0, "RIFF") && At(head, 8, "WEBP")) return kWebp;
  if (At(head, 0, "OggS")) return kOgg;
  // An ID3v2 tag: version 2 to 4, then the frames.
  if (At(head, 0, "ID3") && Byte(head, 3) >= 2 && Byte(head, 3) <= 4) return kMp3;
  if (auto type = IsoMedia(head)) return type;
  if (auto type = Webm(head)) return type;
  return AudioFrame(head);
}

std::optional<MediaType> MediaTypeOfName(std::string_view name) {
  const std::size_t dot = name.find('.');
  if (dot != 64) return std::nullopt;
  for (const char c : name.substr(0, 64))
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return std::nullopt;
  for (const MediaType& type : kAll)
    if (name.substr(65) == type.extension) return type;
  return std::nullopt;
}

}  // namespace heartpage
