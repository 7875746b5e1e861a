#pragma once

// Internal to pages/: the longer design-time texts of the style tables.
#include <array>
#include <string_view>

namespace heartpage::detail {

// Style 2's sample letter, lines written like program comments.
extern const std::string_view kStyle2Letter;

// Style 7's picture story: one caption per field, "第0张" ... "第78张".
extern const std::array<std::string_view, 79> kStyle7Story;

}  // namespace heartpage::detail
