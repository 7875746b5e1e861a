#include "text/markup.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <optional>
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

// Properties that only format text; nothing that places a box over the page
// or fetches anything.
constexpr std::string_view kProperties[] = {
    "color",          "background-color", "font-size",       "font-weight",   "font-style",
    "font-family",    "font-variant",     "text-decoration", "text-align",    "text-indent",
    "text-shadow",    "letter-spacing",   "word-spacing",    "line-height",   "vertical-align",
    "white-space",    "margin",           "margin-left",     "margin-right",  "margin-top",
    "margin-bottom",  "padding",          "padding-left",    "padding-right", "padding-top",
    "padding-bottom", "border",           "border-radius",   "opacity",
};

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
std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsAsciiSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsAsciiSpace(text.back())) text.remove_suffix(1);
  return text;
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

// The declarations of a style attribute that are kept, joined again.
std::string CleanStyle(std::string_view style) {
  std::string out;
  while (!style.empty()) {
    const std::size_t end = std::min(style.find(';'), style.size());
    const std::string_view declaration = style.substr(0, end);
    style.remove_prefix(std::min(end + 1, style.size()));
    const std::size_t colon = declaration.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string property = Lowered(Trimmed(declaration.substr(0, colon)));
    const std::string_view value = Trimmed(declaration.substr(colon + 1));
    if (std::find(std::begin(kProperties), std::end(kProperties), property) ==
            std::end(kProperties) ||
        !PlainCssValue(value))
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
  value = Trimmed(value);
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
      const std::size_t reference = ReferenceLength(text.substr(i));
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
    if (rule == nullptr || (!tag->closing && !rule->is_void && open.size() >= kMaxDepth)) {
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
  for (const char c : text) {
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
        out += quotes ? "&quot;" : "\"";
        break;
      case '\'':
        out += quotes ? "&#39;" : "'";
        break;
      default:
        out += c;
    }
  }
}

std::string EscapeHtml(std::string_view text, bool quotes) {
  std::string out;
  out.reserve(text.size());
  AppendEscapedHtml(out, text, quotes);
  return out;
}

}  // namespace heartpage
