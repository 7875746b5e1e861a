#include "text/backslashes.h"

#include "text/ascii.h"
#include "text/gbk.h"

namespace heartpage {

std::optional<std::string> DecodeBackslashes(std::string_view text, Backslashes allowed,
                                             std::string* bad) {
  std::string out;
  out.reserve(text.size());
  const auto refuse = [&](std::string_view what) -> std::optional<std::string> {
    if (bad != nullptr) *bad = what;
    return std::nullopt;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    // Runs between escapes are copied whole: a value may be the whole page.
    const std::size_t escape = std::min(text.find('\\', i), text.size());
    out.append(text, i, escape - i);
    if (escape == text.size()) break;
    i = escape + 1;
    if (i == text.size()) return refuse({});
    const char letter = text[i];
    if (letter == '\\') {
      out += '\\';
    } else if (letter == 'n') {
      out += '\n';
    } else if (letter == 'r') {
      out += '\r';
    } else if (letter == 't' && allowed.tab) {
      out += '\t';
    } else if (letter == 'u' && allowed.unicode && text.size() - i > 4) {
      char32_t code = 0;
      for (const char digit : text.substr(i + 1, 4)) {
        const int value = HexDigit(digit);
        if (value < 0) return refuse(text.substr(i, 1));
        code = code * 16 + static_cast<char32_t>(value);
      }
      AppendUtf8(out, code);
      i += 4;
    } else {
      return refuse(text.substr(i, 1));
    }
  }
  return out;
}

}  // namespace heartpage
