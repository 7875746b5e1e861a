#pragma once

#include <string>
#include <string_view>

namespace heartpage {

// Replaces every occurrence of `key` in `text` by `value`: searched from the
// start, left to right, non-overlapping, by exact byte comparison, and never
// looking into the text it has just inserted. Linear in the size of the text;
// the text is left untouched when the key does not occur. An empty key changes
// nothing. Answers the number of replacements.
std::size_t ReplaceAll(std::string& text, std::string_view key, std::string_view value);
// The same, building the result in `scratch` (which receives the old text),
// so that a run of replacements reuses two buffers instead of allocating.
std::size_t ReplaceAll(std::string& text, std::string_view key, std::string_view value,
                       std::string& scratch);

}  // namespace heartpage
