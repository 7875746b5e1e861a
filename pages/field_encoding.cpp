#include "pages/field_encoding.h"

#include <algorithm>

#include "text/markup.h"

namespace heartpage {
namespace {

bool IsAlnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}
bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool IsNonAscii(char c) {
  return static_cast<unsigned char>(c) >= 0x80;
}
// What browsers strip around an address.
bool IsSpaceOrControl(char c) {
  return static_cast<unsigned char>(c) <= 0x20;
}

std::string_view Trim(std::string_view text, bool (*strip)(char)) {
  while (!text.empty() && strip(text.front())) text.remove_prefix(1);
  while (!text.empty() && strip(text.back())) text.remove_suffix(1);
  return text;
}

void AppendHex4(std::string& out, unsigned code) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kDigits[(code >> shift) & 0xF];
}

std::string ScriptString(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    // Characters written as they are, a run at a time.
    std::size_t plain = i;
    while (plain < value.size()) {
      const char p = value[plain];
      const auto b = static_cast<unsigned char>(p);
      if (b < 0x20 || b == 0x7F || b == 0xE2 || p == '\\' || p == '"' || p == '\'' || p == '<' ||
          p == '>' || p == '&' || p == '`')
        break;
      ++plain;
    }
    out.append(value, i, plain - i);
    if (plain == value.size()) break;
    i = plain;
    const char c = value[i];
    const auto byte = static_cast<unsigned char>(c);
    // U+2028 and U+2029 end a line, and so a string literal, in older engines.
    if (byte == 0xE2 && i + 2 < value.size() && static_cast<unsigned char>(value[i + 1]) == 0x80 &&
        (static_cast<unsigned char>(value[i + 2]) == 0xA8 ||
         static_cast<unsigned char>(value[i + 2]) == 0xA9)) {
      AppendHex4(out, static_cast<unsigned char>(value[i + 2]) == 0xA8 ? 0x2028 : 0x2029);
      i += 2;
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (byte < 0x20 || byte == 0x7F || c == '"' || c == '\'' || c == '<' || c == '>' ||
               c == '&' || c == '`') {
      AppendHex4(out, byte);
    } else {
      out += c;
    }
  }
  return out;
}

bool IsDecimalNumber(std::string_view text) {
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
  const std::size_t dot = text.find('.');
  const std::string_view whole = text.substr(0, dot);
  const std::string_view fraction =
      dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
  const auto digits = [](std::string_view part) {
    return std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  return !whole.empty() && whole.size() <= 15 && digits(whole) && digits(fraction) &&
         (dot == std::string_view::npos || !fraction.empty());
}

std::string Filtered(std::string_view value, std::string_view also) {
  std::string out;
  for (const char c : value)
    if (IsAlnum(c) || IsNonAscii(c) || also.find(c) != std::string_view::npos) out += c;
  return out;
}

}  // namespace

std::string HtmlLineBreaks(std::string_view html) {
  std::string out;
  out.reserve(html.size());
  // Most values are one line: whole runs between line ends at a time.
  for (std::size_t pos = 0; pos < html.size();) {
    std::size_t end = std::min(html.find('\r', pos), html.find('\n', pos));
    if (end == std::string_view::npos) end = html.size();
    out.append(html, pos, end - pos);
    if (end == html.size()) break;
    out += "<br>";
    pos = end + (html[end] == '\r' && end + 1 < html.size() && html[end + 1] == '\n' ? 2 : 1);
  }
  return out;
}

std::string SafeAddress(std::string_view value) {
  value = Trim(value, IsSpaceOrControl);
  // Browsers drop tabs and line ends inside an address, so "java\tscript:"
  // would still be a script: such an address is no address.
  if (std::any_of(value.begin(), value.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
    return {};
  // Two slashes, either way round, lead to another host with the page's
  // scheme: that is no address relative to the page.
  if (value.size() >= 2 && (value[0] == '/' || value[0] == '\\') &&
      (value[1] == '/' || value[1] == '\\'))
    return {};
  const std::size_t end = value.find_first_of(":/?#");
  if (end != std::string_view::npos && value[end] == ':') {
    std::string scheme(value.substr(0, end));
    std::transform(scheme.begin(), scheme.end(), scheme.begin(), [](char c) {
      return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    if (scheme != "http" && scheme != "https") return {};
  }
  return std::string(value);
}

std::optional<std::string> NormalColour(std::string_view value) {
  value = Trim(value, IsSpaceOrControl);
  if (!value.empty() && value.front() == '#') value.remove_prefix(1);
  if ((value.size() != 3 && value.size() != 6) || !std::all_of(value.begin(), value.end(), IsHex))
    return std::nullopt;
  return "#" + std::string(value);
}

std::string EncodeForPlacement(std::string_view value, const Placement& placement) {
  switch (placement.slot) {
    case Slot::kText:
      return HtmlLineBreaks(EscapeHtml(value, false));
    case Slot::kTitle:
      return EscapeHtml(value, false);
    case Slot::kAttribute:
      return EscapeHtml(value, true);
    case Slot::kAddress:
      return EscapeHtml(SafeAddress(value), true);
    case Slot::kAddressPart: {
      static constexpr char kDigits[] = "0123456789ABCDEF";
      std::string out;
      for (const char c : value) {
        if (IsAlnum(c) || IsNonAscii(c) || c == '-' || c == '.' || c == '_' || c == '~') {
          out += c;
        } else {
          out += '%';
          out += kDigits[static_cast<unsigned char>(c) >> 4];
          out += kDigits[static_cast<unsigned char>(c) & 0xF];
        }
      }
      return out;
    }
    case Slot::kScriptString:
      return ScriptString(value);
    case Slot::kScriptCode: {
      const std::string_view number = Trim(value, IsSpaceOrControl);
      if (IsDecimalNumber(number)) return std::string(number);
      const char quote = placement.attribute_quote == '"' ? '\'' : '"';
      return quote + ScriptString(value) + quote;
    }
    case Slot::kScriptComment: {
      std::string out;
      for (const char c : value) {
        if (c == '\r' || c == '\n')
          out += ' ';
        else if (c == '<' || c == '*')
          AppendHex4(out, static_cast<unsigned char>(c));
        else
          out += c;
      }
      // Only U+2028 and U+2029 remain that end a line comment.
      std::string result;
      for (std::size_t i = 0; i < out.size(); ++i) {
        if (static_cast<unsigned char>(out[i]) == 0xE2 && i + 2 < out.size() &&
            static_cast<unsigned char>(out[i + 1]) == 0x80 &&
            (static_cast<unsigned char>(out[i + 2]) & 0xFE) == 0xA8) {
          result += ' ';
          i += 2;
        } else {
          result += out[i];
        }
      }
      return result;
    }
    case Slot::kStyleSheet:
      return Filtered(value, "#.%,- ");
    case Slot::kOther:
      return Filtered(value, "");
  }
  return {};
}

}  // namespace heartpage
