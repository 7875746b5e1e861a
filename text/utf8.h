#pragma once

// Small steps over UTF-8 text and its blanks, written once for the program
// and the server alike.
#include <cstddef>
#include <string_view>

namespace heartpage {

// Spaces, tabs and line ends: what a typed or pasted value is trimmed of.
inline constexpr std::string_view kBlanks = " \t\r\n";
// HTML's white space, which also takes the form feed.
inline constexpr std::string_view kHtmlBlanks = " \t\r\n\f";
// What may surround an HTTP header's value or the items of its lists.
inline constexpr std::string_view kHeaderBlanks = " \t";

inline std::string_view Trimmed(std::string_view text, std::string_view blanks = kBlanks) {
  const std::size_t start = text.find_first_not_of(blanks);
  if (start == std::string_view::npos) return {};
  return text.substr(start, text.find_last_not_of(blanks) - start + 1);
}

inline bool IsUtf8Continuation(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// Characters, not bytes: Chinese takes three bytes a character. Every byte
// but a continuation byte starts one.
inline std::size_t Utf8Characters(std::string_view text) {
  std::size_t count = 0;
  for (const char byte : text)
    if (!IsUtf8Continuation(byte)) ++count;
  return count;
}

// Where `text` is best cut to at most `bytes` bytes without splitting a
// character.
inline std::size_t Utf8CutAt(std::string_view text, std::size_t bytes) {
  if (bytes >= text.size()) return text.size();
  while (bytes > 0 && IsUtf8Continuation(text[bytes])) --bytes;
  return bytes;
}

// The first `characters` characters of `text`, or all of it.
inline std::string_view Utf8Prefix(std::string_view text, std::size_t characters) {
  std::size_t at = 0;
  for (std::size_t count = 0; at < text.size() && count < characters; ++count) {
    ++at;
    while (at < text.size() && IsUtf8Continuation(text[at])) ++at;
  }
  return text.substr(0, at);
}

}  // namespace heartpage
