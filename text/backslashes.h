#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace heartpage {

// The escapes a text may hold beside "\\", "\n" and "\r".
struct Backslashes {
  bool tab = false;      // "\t"
  bool unicode = false;  // "\uXXXX", four hexadecimal digits
};

// What `text` stands for with its backslash escapes read; nothing when it
// holds one that `allowed` does not name or ends in a lone backslash. Then
// `bad`, when given, holds the letter after the backslash, or is empty for
// the lone one.
std::optional<std::string> DecodeBackslashes(std::string_view text, Backslashes allowed,
                                             std::string* bad = nullptr);

}  // namespace heartpage
