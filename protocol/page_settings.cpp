#include "protocol/page_settings.h"

#include <chrono>

namespace heartpage::wire {
namespace {

// Characters, not bytes: Chinese takes three bytes a character in UTF-8.
std::size_t CharactersIn(std::string_view utf8) {
  std::size_t count = 0;
  for (const char byte : utf8)
    if ((static_cast<unsigned char>(byte) & 0xC0) != 0x80) ++count;
  return count;
}

// C0 and C1 controls and DEL: a line break or an escape in a hint would draw
// on the visitor's page and on the operator's terminal.
bool HoldsControl(std::string_view utf8) {
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if (byte < 0x20 || byte == 0x7F) return true;
    if (byte == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
        static_cast<unsigned char>(utf8[i + 1]) <= 0x9F)
      return true;
  }
  return false;
}

bool Digits(std::string_view text, std::size_t from, std::size_t count, int& value) {
  value = 0;
  for (std::size_t i = from; i < from + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

}  // namespace

std::string CanonicalCode(std::string_view code) {
  constexpr std::string_view kWideSpace = "\xE3\x80\x80";
  for (bool trimmed = true; trimmed;) {
    trimmed = false;
    for (const std::string_view space :
         {std::string_view(" "), std::string_view("\t"), kWideSpace}) {
      for (; code.starts_with(space); trimmed = true) code.remove_prefix(space.size());
      for (; code.ends_with(space); trimmed = true) code.remove_suffix(space.size());
    }
  }
  std::string canonical(code);
  for (char& c : canonical)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return canonical;
}

bool IsUtcTime(std::string_view text) {
  if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' ||
      text[16] != ':')
    return false;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!Digits(text, 0, 4, year) || !Digits(text, 5, 2, month) || !Digits(text, 8, 2, day) ||
      !Digits(text, 11, 2, hour) || !Digits(text, 14, 2, minute) || !Digits(text, 17, 2, second))
    return false;
  const std::chrono::year_month_day date{std::chrono::year(year),
                                         std::chrono::month(static_cast<unsigned>(month)),
                                         std::chrono::day(static_cast<unsigned>(day))};
  return year >= 1970 && date.ok() && hour < 24 && minute < 60 && second < 60;
}

std::string PageSettingsProblem(const PageSettings& settings) {
  if (!settings.opens.empty() && !IsUtcTime(settings.opens))
    return "opening time is not YYYY-MM-DD HH:MM:SS in UTC";
  if (settings.code.empty() != settings.hint.empty())
    return settings.code.empty() ? "a hint without a code" : "a code without a hint";
  if (!settings.code.empty() && CanonicalCode(settings.code).empty())
    return "a code of nothing but spaces, which no reader could give";
  if (CharactersIn(settings.code) > kCodeMaxChars) return "code longer than 32 characters";
  if (CharactersIn(settings.hint) > kHintMaxChars) return "hint longer than 40 characters";
  if (HoldsControl(settings.code) || HoldsControl(settings.hint))
    return "a control character in the code or hint";
  return {};
}

}  // namespace heartpage::wire
