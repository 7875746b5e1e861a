#include "server/site/policy/page_slots.h"

#include <algorithm>
#include <cstdlib>

#include "text/ascii.h"
#include "text/backslashes.h"
#include "text/gbk.h"
#include "text/markup.h"

namespace heartpage::server {
namespace {

// A set of bytes looked up in one step: the extents below test every byte of
// a value that may be the whole page, where a search of the set's string per
// byte was most of a check's time.
class ByteSet {
 public:
  constexpr ByteSet(std::string_view members, bool (*also)(char) = nullptr) {
    for (int b = 0; b < 256; ++b) {
      const char c = static_cast<char>(b);
      in_[b] = (also != nullptr && also(c)) || members.find(c) != std::string_view::npos;
    }
  }
  constexpr bool operator()(char c) const { return in_[static_cast<unsigned char>(c)]; }

 private:
  bool in_[256] = {};
};

constexpr bool IsAlnumOrNonAscii(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         static_cast<unsigned char>(c) >= 0x80;
}
constexpr bool IsControlByte(char c) {
  return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}
constexpr ByteSet kHtmlTextStops("<>");
constexpr ByteSet kAttributeStops("<>\"'");
constexpr ByteSet kStringStops("\"'<>&`", IsControlByte);
constexpr ByteSet kAddressPartBytes("-._~%", IsAlnumOrNonAscii);
constexpr ByteSet kNumberBytes("0123456789.+-");
constexpr ByteSet kCommentStops("\r\n<*");
constexpr ByteSet kStyleSheetBytes("#.%,- ", IsAlnumOrNonAscii);
constexpr ByteSet kWordBytes("", IsAlnumOrNonAscii);

// The references the builders write for the characters they escape.
constexpr std::pair<std::string_view, char> kReferences[] = {
    {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}};

// Length of the reference at `at` when it is one of the first `count`.
std::size_t ReferenceAt(std::string_view text, std::size_t at, std::size_t count, char* meant) {
  for (std::size_t i = 0; i < count; ++i) {
    if (text.substr(at, kReferences[i].first.size()) == kReferences[i].first) {
      if (meant != nullptr) *meant = kReferences[i].second;
      return kReferences[i].first.size();
    }
  }
  return 0;
}

// HTML text with the builders' references, and <br> for line ends where
// `breaks`; nothing when anything else is escaped or a tag.
std::optional<std::string> ReadHtml(std::string_view text, std::size_t references, bool breaks) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    // Plain text a run at a time, up to the next character that is written
    // otherwise.
    std::size_t plain = i;
    while (plain < text.size() && text[plain] != '&' && text[plain] != '<' && text[plain] != '>' &&
           text[plain] != '"' && text[plain] != '\'')
      ++plain;
    out.append(text, i, plain - i);
    if (plain == text.size()) break;
    i = plain;
    const char c = text[i];
    if (c == '&') {
      char meant = 0;
      const std::size_t length = ReferenceAt(text, i, references, &meant);
      if (length == 0) return std::nullopt;
      out += meant;
      i += length - 1;
    } else if (c == '<' && breaks && text.substr(i, 4) == "<br>") {
      out += '\n';
      i += 3;
    } else if (c == '<' || c == '>' || (references == 5 && (c == '"' || c == '\''))) {
      return std::nullopt;
    } else {
      out += c;
    }
  }
  return out;
}

// A script string literal's content as the builders write it.
std::optional<std::string> ReadScriptString(std::string_view text) {
  return DecodeBackslashes(text, {.unicode = true});
}

std::size_t HtmlExtent(std::string_view page, std::size_t i, std::size_t references, bool breaks,
                       bool attribute) {
  const ByteSet& stops = attribute ? kAttributeStops : kHtmlTextStops;
  for (std::size_t near = 0; i < page.size();) {
    if (i >= near) {
      i = SkipPlainHtml(page, i, attribute);
      if (i >= page.size()) break;
      near = i + 8;
    }
    const char c = page[i];
    if (c != '&' && c != '<' && !stops(c)) {
      ++i;
    } else if (c == '&') {
      const std::size_t length = ReferenceAt(page, i, references, nullptr);
      if (length == 0) break;
      i += length;
    } else if (c == '<' && breaks && page.substr(i, 4) == "<br>") {
      i += 4;
    } else {
      break;
    }
  }
  return i;
}

std::size_t StringExtent(std::string_view page, std::size_t i) {
  while (i < page.size()) {
    const char c = page[i];
    if (c == '\\') {
      i += 2;
      continue;
    }
    if (kStringStops(c)) break;
    ++i;
  }
  return std::min(i, page.size());
}

std::size_t CharactersExtent(std::string_view page, std::size_t i, const ByteSet& allowed) {
  while (i < page.size() && allowed(page[i])) ++i;
  return i;
}

}  // namespace

std::size_t SlotExtent(std::string_view page, std::size_t start, const SlotKind& kind) {
  switch (kind.place.slot) {
    case Slot::kText:
      return kind.markup ? page.size() : HtmlExtent(page, start, 3, true, false);
    case Slot::kTitle:
      return HtmlExtent(page, start, 3, false, false);
    case Slot::kAttribute:
    case Slot::kAddress:
      return HtmlExtent(page, start, 5, false, true);
    case Slot::kAddressPart:
      return CharactersExtent(page, start, kAddressPartBytes);
    case Slot::kScriptString:
      return StringExtent(page, start);
    case Slot::kScriptCode: {
      if (start < page.size() && (page[start] == '"' || page[start] == '\'')) {
        const std::size_t end = StringExtent(page, start + 1);
        return end < page.size() && page[end] == page[start] ? end + 1 : end;
      }
      return CharactersExtent(page, start, kNumberBytes);
    }
    case Slot::kScriptComment: {
      std::size_t i = start;
      while (i < page.size() && !kCommentStops(page[i])) ++i;
      return i;
    }
    case Slot::kStyleSheet:
      return CharactersExtent(page, start, kStyleSheetBytes);
    case Slot::kOther:
      return CharactersExtent(page, start, kWordBytes);
  }
  return start;
}

std::optional<std::string> ReadSlot(std::string_view written, const SlotKind& kind) {
  switch (kind.place.slot) {
    case Slot::kText:
      if (kind.markup) return std::string(written);
      return ReadHtml(written, 3, true);
    case Slot::kTitle:
      return ReadHtml(written, 3, false);
    case Slot::kAttribute:
    case Slot::kAddress:
      return ReadHtml(written, 5, false);
    case Slot::kAddressPart: {
      std::string out;
      for (std::size_t i = 0; i < written.size(); ++i) {
        if (written[i] != '%') {
          out += written[i];
          continue;
        }
        if (written.size() - i < 3) return std::nullopt;
        const std::string hex(written.substr(i + 1, 2));
        if (HexDigit(hex[0]) < 0 || HexDigit(hex[1]) < 0) return std::nullopt;
        out += static_cast<char>(std::strtoul(hex.c_str(), nullptr, 16));
        i += 2;
      }
      return out;
    }
    case Slot::kScriptString:
      return ReadScriptString(written);
    case Slot::kScriptCode:
      if (written.size() >= 2 && (written.front() == '"' || written.front() == '\'') &&
          written.back() == written.front())
        return ReadScriptString(written.substr(1, written.size() - 2));
      return std::string(written);
    case Slot::kScriptComment: {
      std::string out;
      for (std::size_t i = 0; i < written.size(); ++i) {
        if (written.substr(i, 6) == "\\u003c") {
          out += '<';
          i += 5;
        } else if (written.substr(i, 6) == "\\u002a") {
          out += '*';
          i += 5;
        } else {
          out += written[i];
        }
      }
      return out;
    }
    case Slot::kStyleSheet:
    case Slot::kOther:
      return std::string(written);
  }
  return std::nullopt;
}

std::string ShownText(std::string_view html) {
  std::string out;
  out.reserve(html.size());
  for (std::size_t i = 0; i < html.size(); ++i) {
    const char c = html[i];
    if (c == '<') {
      const std::size_t close = html.find('>', i);
      if (close == std::string_view::npos) break;
      if (html.substr(i, 4) == "<br>" || html.substr(i, 3) == "<p>" || html.substr(i, 4) == "<div")
        out += '\n';
      i = close;
    } else if (const CharacterReference reference = heartpage::ReferenceAt(html.substr(i));
               reference.length > 0) {
      AppendUtf8(out, reference.character);
      i += reference.length - 1;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace heartpage::server
