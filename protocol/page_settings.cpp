#include "protocol/page_settings.h"
#include "text/utf8.h"

#include <chrono>
#include <vector>

namespace heartpage::wire {
namespace {

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

bool MonthDay(int month, int day) {
  return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

// Year, month and day in any order people write them: the year first or
// last, month and day either way round.
bool DateOf(const std::vector<std::string>& groups) {
  const auto number = [](const std::string& digits) { return std::stoi(digits); };
  if (groups.size() == 2 && groups[0].size() <= 2 && groups[1].size() <= 2)
    return MonthDay(number(groups[0]), number(groups[1])) ||
           MonthDay(number(groups[1]), number(groups[0]));
  if (groups.size() != 3) return false;
  for (const bool year_first : {true, false}) {
    const std::string& year = year_first ? groups[0] : groups[2];
    const std::string& a = year_first ? groups[1] : groups[0];
    const std::string& b = year_first ? groups[2] : groups[1];
    if ((year.size() == 2 || year.size() == 4) && a.size() <= 2 && b.size() <= 2 &&
        (MonthDay(number(a), number(b)) || MonthDay(number(b), number(a))))
      return true;
  }
  return false;
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

bool IsEasyCode(std::string_view code) {
  const std::string canonical = CanonicalCode(code);
  std::vector<std::string> groups(1);
  for (std::string_view rest = canonical; !rest.empty();) {
    if (rest.front() >= '0' && rest.front() <= '9') {
      groups.back() += rest.front();
      rest.remove_prefix(1);
      continue;
    }
    bool separator = false;
    for (const std::string_view mark :
         {"-", "/", ".", " ", "\xE5\xB9\xB4" /* 年 */, "\xE6\x9C\x88" /* 月 */,
          "\xE6\x97\xA5" /* 日 */, "\xE5\x8F\xB7" /* 号 */})
      if (rest.starts_with(mark)) {
        rest.remove_prefix(mark.size());
        separator = true;
        break;
      }
    if (!separator) return false;
    if (!groups.back().empty()) groups.emplace_back();
  }
  if (groups.back().empty()) groups.pop_back();
  if (groups.empty()) return false;
  if (groups.size() == 1) {
    const std::string& digits = groups[0];
    if (digits.size() <= 4) return true;
    // Written without separators: YYMMDD or YYYYMMDD, or the year last.
    if (digits.size() == 6)
      return DateOf({digits.substr(0, 2), digits.substr(2, 2), digits.substr(4, 2)});
    if (digits.size() == 8)
      return DateOf({digits.substr(0, 4), digits.substr(4, 2), digits.substr(6, 2)}) ||
             DateOf({digits.substr(0, 2), digits.substr(2, 2), digits.substr(4, 4)});
    return false;
  }
  return DateOf(groups);
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
  if (Utf8Characters(settings.code) > kCodeMaxChars) return "code longer than 32 characters";
  if (Utf8Characters(settings.hint) > kHintMaxChars) return "hint longer than 40 characters";
  if (HoldsControl(settings.code) || HoldsControl(settings.hint))
    return "a control character in the code or hint";
  return {};
}

}  // namespace heartpage::wire
