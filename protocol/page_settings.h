#pragma once

#include <string>
#include <string_view>

// A page's settings, sent with its store as optional fields (kOpensField,
// kCodeField, kHintField in protocol/wire.h) and read back by its owner in the
// receipts' settings record. An old client sends none and its page opens at
// once to anyone with the address.
namespace heartpage::wire {

// The longest code and hint, in characters: a code is a word or two the
// reader knows, a hint one line under the box that asks for it.
inline constexpr std::size_t kCodeMaxChars = 32;
inline constexpr std::size_t kHintMaxChars = 40;

struct PageSettings {
  // The moment the page opens, "YYYY-MM-DD HH:MM:SS" in UTC like every time
  // of the protocol; empty opens at once.
  std::string opens;
  // The code the reader must give; the server keeps only a slow salted hash
  // of it, and tells its owner only that one is set.
  std::string code;
  std::string hint;
  bool operator==(const PageSettings&) const = default;
};

// The code as a reader would type it again: no spaces around it (a mix of
// ASCII and the ideographic U+3000 a Chinese keyboard types), and Latin
// letters in one case (a phone's keyboard capitalises the first). A reader's
// try and the sender's code both become this before they are compared.
std::string CanonicalCode(std::string_view code);

// Whether a code falls to a short search of the codes people choose: four
// digits or fewer once canonical, or a date however it is written
// ("20240214", "2024-2-14", "2月14日", "140224"). The sender is warned, not
// refused: the page's pace keeps such a code for weeks, not for ever.
bool IsEasyCode(std::string_view code);

// What is wrong with the settings as one line of the program's own words, or
// empty when they can be stored: a moment that is no UTC time of the form
// above, a code without a hint or a hint without a code, a code that is
// nothing once canonical (no reader could ever give it), either too long or
// holding a control character. Whether the moment has passed is the
// sender's concern, not the protocol's: a past moment only means open now.
std::string PageSettingsProblem(const PageSettings& settings);

// Whether `text` is a time "YYYY-MM-DD HH:MM:SS" that exists on the calendar.
bool IsUtcTime(std::string_view text);

}  // namespace heartpage::wire
