#include "text/markup.h"
#include "text/utf8.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <utility>
#include <vector>

namespace heartpage {
namespace {

constexpr std::size_t kMaxDepth = 32;
constexpr std::size_t kMaxTagLength = 2048;

struct TagRule {
  std::string_view name;
  bool is_void;
  std::array<std::string_view, 3> attributes;  // besides style
};

constexpr TagRule kTags[] = {
    {"br", true, {}},
    {"hr", true, {}},
    {"b", false, {}},
    {"i", false, {}},
    {"u", false, {}},
    {"s", false, {}},
    {"em", false, {}},
    {"strong", false, {}},
    {"small", false, {}},
    {"big", false, {}},
    {"sub", false, {}},
    {"sup", false, {}},
    {"span", false, {}},
    {"p", false, {"align"}},
    {"div", false, {"align"}},
    {"center", false, {}},
    {"font", false, {"color", "size", "face"}},
};

// Properties that only format the text itself, none of which can place a
// box, or anything it draws, beyond the box the text stands in.
constexpr std::string_view kProperties[] = {
    "color",      "background-color", "font-size",       "font-weight",
    "font-style", "font-family",      "text-decoration", "text-align",
};

// <big> makes its text a size larger than around it: a few inside each
// other still format text, dozens grow letters over the whole page.
constexpr std::size_t kMaxBigDepth = 3;

bool IsAsciiAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsAsciiDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsAsciiSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}
char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
std::string Lowered(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), Lower);
  return out;
}
std::string_view HtmlTrimmed(std::string_view text) {
  return Trimmed(text, kHtmlBlanks);
}

const TagRule* FindTag(std::string_view name) {
  for (const TagRule& rule : kTags)
    if (rule.name == name) return &rule;
  return nullptr;
}

// Length of the character reference at the start of `text` ("&amp;",
// "&#23435;", "&#x1F496;"), or 0 when there is none.
std::size_t ReferenceLength(std::string_view text) {
  std::size_t i = 1;
  if (i < text.size() && text[i] == '#') {
    ++i;
    const bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
    if (hex) ++i;
    const std::size_t start = i;
    while (i < text.size() && i - start < 8 &&
           (IsAsciiDigit(text[i]) ||
            (hex && ((text[i] >= 'a' && text[i] <= 'f') || (text[i] >= 'A' && text[i] <= 'F')))))
      ++i;
    if (i == start) return 0;
  } else {
    const std::size_t start = i;
    while (i < text.size() && i - start < 32 && (IsAsciiAlpha(text[i]) || IsAsciiDigit(text[i])))
      ++i;
    if (i == start || !IsAsciiAlpha(text[start])) return 0;
  }
  return i < text.size() && text[i] == ';' ? i + 1 : 0;
}

// The names a sender may use for characters: the ones typed in text (marks,
// dashes, quotes, spaces, arrows, symbols), and the few invisible ones, which
// a reader of the text must see to remove.
constexpr std::pair<std::string_view, char32_t> kNamedCharacters[] = {
    {"amp", '&'},      {"lt", '<'},       {"gt", '>'},        {"quot", '"'},      {"apos", '\''},
    {"nbsp", 0xA0},    {"shy", 0xAD},     {"zwnj", 0x200C},   {"zwj", 0x200D},    {"lrm", 0x200E},
    {"rlm", 0x200F},   {"ensp", 0x2002},  {"emsp", 0x2003},   {"thinsp", 0x2009}, {"copy", 0xA9},
    {"reg", 0xAE},     {"trade", 0x2122}, {"hellip", 0x2026}, {"mdash", 0x2014},  {"ndash", 0x2013},
    {"lsquo", 0x2018}, {"rsquo", 0x2019}, {"ldquo", 0x201C},  {"rdquo", 0x201D},  {"laquo", 0xAB},
    {"raquo", 0xBB},   {"middot", 0xB7},  {"bull", 0x2022},   {"deg", 0xB0},      {"plusmn", 0xB1},
    {"times", 0xD7},   {"divide", 0xF7},  {"micro", 0xB5},    {"para", 0xB6},     {"sect", 0xA7},
    {"cent", 0xA2},    {"pound", 0xA3},   {"yen", 0xA5},      {"euro", 0x20AC},   {"iexcl", 0xA1},
    {"iquest", 0xBF},  {"sup1", 0xB9},    {"sup2", 0xB2},     {"sup3", 0xB3},     {"frac12", 0xBD},
    {"frac14", 0xBC},  {"frac34", 0xBE},  {"larr", 0x2190},   {"uarr", 0x2191},   {"rarr", 0x2192},
    {"darr", 0x2193},  {"harr", 0x2194},  {"hearts", 0x2665}, {"spades", 0x2660}, {"clubs", 0x2663},
    {"diams", 0x2666}, {"star", 0x2606},  {"starf", 0x2605},  {"infin", 0x221E},  {"ne", 0x2260},
    {"le", 0x2264},    {"ge", 0x2265},    {"permil", 0x2030}, {"dagger", 0x2020}, {"check", 0x2713},
    {"cross", 0x2717},
};

// What browsers make of the numbers 128 to 159, which they read as the
// Windows code page's characters.
constexpr char32_t kWindows1252[32] = {
    0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};

}  // namespace

CharacterReference ReferenceAt(std::string_view text) {
  const std::size_t length = text.starts_with('&') ? ReferenceLength(text) : 0;
  if (length == 0) return {};
  const std::string_view name = text.substr(1, length - 2);
  if (name.front() != '#') {
    for (const auto& [known, character] : kNamedCharacters)
      if (known == name) return {length, character};
    return {};
  }
  const bool hex = name.size() > 1 && (name[1] == 'x' || name[1] == 'X');
  const unsigned long code =
      std::strtoul(std::string(name.substr(hex ? 2 : 1)).c_str(), nullptr, hex ? 16 : 10);
  if (code >= 0x80 && code <= 0x9F) return {length, kWindows1252[code - 0x80]};
  if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {length, 0xFFFD};
  return {length, static_cast<char32_t>(code)};
}

namespace {

// An attribute's value as the browser reads it, as far as it matters here:
// the references to ASCII characters decoded, so that "u&#114;l(" is judged
// as "url(" and a value written again reads back the same. Any other
// reference stays, and its "&" makes the value one that is not kept.
std::string DecodedAttribute(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const std::size_t length = value[i] == '&' ? ReferenceLength(value.substr(i)) : 0;
    if (length == 0) {
      out += value[i];
      continue;
    }
    const std::string_view reference = value.substr(i + 1, length - 2);
    long code = -1;
    if (reference == "quot")
      code = '"';
    else if (reference == "amp")
      code = '&';
    else if (reference == "lt")
      code = '<';
    else if (reference == "gt")
      code = '>';
    else if (reference == "apos")
      code = '\'';
    else if (reference.size() > 1 && reference[0] == '#')
      code = (reference[1] == 'x' || reference[1] == 'X')
                 ? std::strtol(std::string(reference.substr(2)).c_str(), nullptr, 16)
                 : std::strtol(std::string(reference.substr(1)).c_str(), nullptr, 10);
    if (code >= 0 && code < 0x80) {
      out += static_cast<char>(code);
      i += length - 1;
    } else {
      out += value[i];
    }
  }
  return out;
}

// One declaration's value: words, numbers, colours, quoted font names and
// the colour functions; anything that could fetch, run or escape is refused.
bool PlainCssValue(std::string_view value) {
  if (value.empty()) return false;
  const std::string lower = Lowered(value);
  for (std::size_t i = 0; i < lower.size(); ++i) {
    const char c = lower[i];
    if (static_cast<unsigned char>(c) >= 0x80 || IsAsciiAlpha(c) || IsAsciiDigit(c)) continue;
    if (c == '(') {
      std::size_t start = i;
      while (start > 0 && IsAsciiAlpha(lower[start - 1])) --start;
      const std::string_view function = std::string_view(lower).substr(start, i - start);
      if (function != "rgb" && function != "rgba" && function != "hsl" && function != "hsla")
        return false;
      continue;
    }
    if (std::string_view("#%., -+!')\"").find(c) == std::string_view::npos) return false;
  }
  return true;
}

// A number written with digits and at most one point, and its value.
std::optional<double> Number(std::string_view text) {
  if (text.empty() || text.size() > 8 || text.find_first_not_of("0123456789.") != text.npos ||
      std::count(text.begin(), text.end(), '.') > 1 || text == ".")
    return std::nullopt;
  return std::strtod(std::string(text).c_str(), nullptr);
}

bool OneOf(std::string_view word, std::initializer_list<std::string_view> words) {
  return std::find(words.begin(), words.end(), word) != words.end();
}

// A colour as one word: "#" and hex digits, a colour's name, or one of the
// colour functions holding only numbers.
bool CssColour(std::string_view value) {
  if (value.starts_with('#'))
    return (value.size() == 4 || value.size() == 5 || value.size() == 7 || value.size() == 9) &&
           std::all_of(value.begin() + 1, value.end(),
                       [](char c) { return IsAsciiDigit(c) || (c >= 'a' && c <= 'f'); });
  const std::size_t open = value.find('(');
  if (open == std::string_view::npos)
    return !value.empty() && value.size() <= 32 &&
           std::all_of(value.begin(), value.end(), IsAsciiAlpha);
  return OneOf(value.substr(0, open), {"rgb", "rgba", "hsl", "hsla"}) && value.ends_with(')') &&
         value.substr(open + 1, value.size() - open - 2).find_first_not_of("0123456789.%, ") ==
             std::string_view::npos;
}

// A size that does not grow with what it stands in (em, % and "larger" do,
// and nested they would reach any size): a named one, or pixels, points or
// the page's own size within what a heading takes.
bool CssFontSize(std::string_view value) {
  if (OneOf(value, {"xx-small", "x-small", "small", "medium", "large", "x-large", "xx-large",
                    "xxx-large"}))
    return true;
  const std::size_t unit = value.find_first_not_of("0123456789.");
  if (unit == std::string_view::npos) return false;
  const std::optional<double> number = Number(value.substr(0, unit));
  const std::string_view name = value.substr(unit);
  if (!number) return false;
  if (name == "px") return *number <= 72;
  if (name == "pt") return *number <= 54;
  if (name == "rem") return *number <= 4.5;
  return false;
}

// Whether `value` (small letters, trimmed) is one the property may keep: a
// text decoration only as lines, their style and colour, never a thickness.
bool FormattingValue(std::string_view property, std::string_view value) {
  if (property == "color" || property == "background-color") return CssColour(value);
  if (property == "font-size") return CssFontSize(value);
  if (property == "font-weight") {
    const std::optional<double> weight = Number(value);
    return OneOf(value, {"normal", "bold", "bolder", "lighter"}) ||
           (weight && *weight >= 1 && *weight <= 1000);
  }
  if (property == "font-style") return OneOf(value, {"normal", "italic", "oblique"});
  if (property == "text-align")
    return OneOf(value, {"left", "right", "center", "justify", "start", "end"});
  if (property == "font-family")
    return value.size() <= 100 && value.find('(') == std::string_view::npos;
  if (property == "text-decoration") {
    std::size_t start = 0;
    while (start < value.size()) {
      std::size_t end = value.find(' ', start);
      if (end == std::string_view::npos) end = value.size();
      const std::string_view word = value.substr(start, end - start);
      if (!word.empty() && !CssColour(word)) return false;
      start = end + 1;
    }
    return true;
  }
  return false;
}

// The declarations of a style attribute that are kept, joined again.
std::string CleanStyle(std::string_view style) {
  std::string out;
  while (!style.empty()) {
    const std::size_t end = std::min(style.find(';'), style.size());
    const std::string_view declaration = style.substr(0, end);
    style.remove_prefix(std::min(end + 1, style.size()));
    const std::size_t colon = declaration.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string property = Lowered(HtmlTrimmed(declaration.substr(0, colon)));
    const std::string_view value = HtmlTrimmed(declaration.substr(colon + 1));
    if (std::find(std::begin(kProperties), std::end(kProperties), property) ==
            std::end(kProperties) ||
        !PlainCssValue(value) || !FormattingValue(property, Lowered(value)))
      continue;
    if (!out.empty()) out += "; ";
    out.append(property).append(": ").append(value);
  }
  return out;
}

bool PlainColour(std::string_view value) {
  if (value.empty() || value.size() > 32) return false;
  const std::size_t start = value.front() == '#' ? 1 : 0;
  if (start == value.size()) return false;
  return std::all_of(value.begin() + start, value.end(),
                     [](char c) { return IsAsciiAlpha(c) || IsAsciiDigit(c); });
}

// The attribute's value as it is to be kept, or nothing.
std::optional<std::string> CleanAttribute(const TagRule& tag, std::string_view name,
                                          std::string_view value) {
  value = HtmlTrimmed(value);
  if (name == "style") {
    if (tag.is_void) return std::nullopt;
    std::string style = CleanStyle(value);
    if (style.empty()) return std::nullopt;
    return style;
  }
  if (std::find(tag.attributes.begin(), tag.attributes.end(), name) == tag.attributes.end())
    return std::nullopt;
  if (name == "color" && PlainColour(value)) return std::string(value);
  if (name == "size" && !value.empty() && value.size() <= 2 &&
      std::all_of(value.begin(), value.end(),
                  [](char c) { return IsAsciiDigit(c) || c == '+' || c == '-'; }))
    return std::string(value);
  if (name == "align") {
    const std::string lower = Lowered(value);
    if (lower == "left" || lower == "right" || lower == "center" || lower == "justify")
      return lower;
  }
  if (name == "face" && !value.empty() && value.size() <= 100 && PlainCssValue(value) &&
      value.find('(') == std::string_view::npos)
    return std::string(value);
  return std::nullopt;
}

struct Tag {
  bool closing = false;
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;
  std::size_t length = 0;  // of the source text, "<" to ">"
};

// Reads the tag at the start of `text` (which begins with "<"); nothing when
// it is not a well-formed tag.
std::optional<Tag> ReadTag(std::string_view text) {
  Tag tag;
  std::size_t i = 1;
  if (i < text.size() && text[i] == '/') {
    tag.closing = true;
    ++i;
  }
  const std::size_t name_start = i;
  while (i < text.size() && (IsAsciiAlpha(text[i]) || (i > name_start && IsAsciiDigit(text[i]))))
    ++i;
  if (i == name_start) return std::nullopt;
  tag.name = Lowered(text.substr(name_start, i - name_start));
  while (true) {
    while (i < text.size() && (IsAsciiSpace(text[i]) || text[i] == '/')) ++i;
    if (i >= text.size() || text[i] == '<') return std::nullopt;
    if (text[i] == '>') {
      tag.length = i + 1;
      return tag;
    }
    const std::size_t attribute_start = i;
    while (i < text.size() && !IsAsciiSpace(text[i]) && text[i] != '=' && text[i] != '>' &&
           text[i] != '/' && text[i] != '<' && text[i] != '"' && text[i] != '\'')
      ++i;
    if (i == attribute_start) return std::nullopt;
    std::string name = Lowered(text.substr(attribute_start, i - attribute_start));
    std::string value;
    std::size_t after_name = i;
    while (after_name < text.size() && IsAsciiSpace(text[after_name])) ++after_name;
    if (after_name < text.size() && text[after_name] == '=') {
      i = after_name + 1;
      while (i < text.size() && IsAsciiSpace(text[i])) ++i;
      if (i < text.size() && (text[i] == '"' || text[i] == '\'')) {
        const std::size_t close = text.find(text[i], i + 1);
        if (close == std::string_view::npos) return std::nullopt;
        value = text.substr(i + 1, close - i - 1);
        i = close + 1;
      } else {
        const std::size_t value_start = i;
        while (i < text.size() && !IsAsciiSpace(text[i]) && text[i] != '>') ++i;
        value = text.substr(value_start, i - value_start);
      }
    }
    tag.attributes.emplace_back(std::move(name), DecodedAttribute(value));
  }
}

void AppendEscaped(std::string& out, char c) {
  switch (c) {
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '&':
      out += "&amp;";
      break;
    default:
      out += c;
  }
}

// Closes the open tags until `keep` are left.
void CloseDownTo(std::string& out, std::vector<std::string>& open, std::size_t keep) {
  while (open.size() > keep) {
    out.append("</").append(open.back()).append(">");
    open.pop_back();
  }
}

}  // namespace

CleanMarkup SanitizeMarkup(std::string_view text) {
  CleanMarkup result;
  std::string& out = result.html;
  out.reserve(text.size() + text.size() / 8);
  std::vector<std::string> open;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '&') {
      const std::size_t reference = ReferenceAt(text.substr(i)).length;
      if (reference > 0) {
        out.append(text.substr(i, reference));
        i += reference;
      } else {
        out += "&amp;";
        ++i;
      }
      continue;
    }
    if (c != '<') {
      AppendEscaped(out, c);
      ++i;
      continue;
    }
    // A tag is short: past that, a "<" is text, and a flood of unclosed
    // quotes costs no more than their length.
    const std::optional<Tag> tag = ReadTag(text.substr(i, kMaxTagLength));
    const TagRule* rule = tag ? FindTag(tag->name) : nullptr;
    if (rule == nullptr || (!tag->closing && !rule->is_void && open.size() >= kMaxDepth) ||
        (!tag->closing && tag->name == "big" &&
         static_cast<std::size_t>(std::count(open.begin(), open.end(), "big")) >= kMaxBigDepth)) {
      out += "&lt;";
      ++i;
      continue;
    }
    i += tag->length;
    if (tag->closing) {
      // Closes the innermost open tag of that name and whatever was left
      // open inside it; without one it is dropped.
      const auto match = std::find(open.rbegin(), open.rend(), tag->name);
      if (match == open.rend()) continue;
      CloseDownTo(out, open, static_cast<std::size_t>(open.rend() - match) - 1);
      continue;
    }
    // A block inside a paragraph ends the paragraph, as browsers read it; so
    // do the written tags, and the closing tags written later match.
    if (tag->name == "p" || tag->name == "div" || tag->name == "center" || tag->name == "hr") {
      const auto paragraph = std::find(open.rbegin(), open.rend(), std::string("p"));
      if (paragraph != open.rend())
        CloseDownTo(out, open, static_cast<std::size_t>(open.rend() - paragraph) - 1);
    }
    out.append("<").append(tag->name);
    for (const auto& [name, value] : tag->attributes) {
      const std::optional<std::string> kept = CleanAttribute(*rule, name, value);
      if (!kept) continue;
      out.append(" ").append(name).append("=\"");
      AppendEscapedHtml(out, *kept);
      out += '"';
    }
    out += '>';
    result.holds_markup = true;
    if (!rule->is_void) open.push_back(tag->name);
  }
  CloseDownTo(out, open, 0);
  return result;
}

void AppendEscapedHtml(std::string& out, std::string_view text, bool quotes) {
  // Whole runs of plain text at a time: most of a value needs no reference.
  const std::string_view special = quotes ? std::string_view("&<>\"'") : std::string_view("&<>");
  std::size_t pos = 0;
  for (std::size_t i = 0, near = 0; i < text.size(); ++i) {
    if (i >= near) {
      i = SkipPlainHtml(text, i, quotes);
      if (i >= text.size()) break;
      near = i + 8;
    }
    const char c = text[i];
    if (c != '&' && c != '<' && c != '>' && c != '"' && c != '\'') continue;
    if (special.find(c) == std::string_view::npos) continue;
    out.append(text, pos, i - pos);
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += "&#39;";
    }
    pos = i + 1;
  }
  out.append(text, pos, text.size() - pos);
}

std::string EscapeHtml(std::string_view text, bool quotes) {
  std::string out;
  out.reserve(text.size());
  AppendEscapedHtml(out, text, quotes);
  return out;
}

}  // namespace heartpage
