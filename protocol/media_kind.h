#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// What a file of the sender's own is, told from its bytes, never from its
// name: the program checks a file before sending it and the server checks it
// again on arrival, with this one detector. GUI-free, so the server links it.
namespace heartpage {

enum class MediaKind { kPicture, kMusic, kVideo };

struct MediaType {
  MediaKind kind;
  std::string_view extension;     // of the public name, without the dot
  std::string_view content_type;  // as served
};

// How many leading bytes the detector reads at most; a shorter file is judged
// on what it has.
inline constexpr std::size_t kMediaSniffBytes = 4096;

// JPEG, PNG, GIF and WebP pictures; MP3 (ID3 tag or MPEG audio layer III
// frame), AAC (ADTS, or MP4 with an M4A brand) and Ogg music; MP4 (ISO
// brands) and WebM video. Nothing for anything else. MP4 is recognised by its
// container brand alone: the codecs inside are not checked.
std::optional<MediaType> DetectMediaType(std::string_view head);

// The type a public name "<64 small hex digits>.<extension>" stands for;
// nothing for any other name.
std::optional<MediaType> MediaTypeOfName(std::string_view name);

// What one file of a kind may weigh, unless the server is told otherwise.
inline constexpr std::uint64_t kDefaultPictureLimit = 10 * 1024 * 1024;
inline constexpr std::uint64_t kDefaultMusicLimit = 20 * 1024 * 1024;
inline constexpr std::uint64_t kDefaultVideoLimit = 50 * 1024 * 1024;

}  // namespace heartpage
