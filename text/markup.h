#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// The little HTML a sender may write into the boxes meant for it: a few
// formatting tags and attributes, kept; everything else shown as the text it
// is. The program cleans what it puts into a page with it, and the server can
// hold stored pages to the same list.
namespace heartpage {

struct CleanMarkup {
  std::string html;
  // Whether any tag was kept: text without one is plain text whose line
  // ends the writer meant as line breaks.
  bool holds_markup = false;
};

// Keeps <br>, <hr>, <b>, <i>, <u>, <s>, <em>, <strong>, <small>, <big>,
// <sub>, <sup>, <span>, <p>, <div>, <center> and <font> with the attributes
// color, size and face (font), align (p, div) and style (all but the void
// ones), whose declarations are kept only for formatting properties and plain
// values (no url( or any other function but the colour ones). Tags are
// written again in one form; tags left open are closed at the end (a block
// closes an open paragraph first, as browsers do); a closing tag without its
// opening one is dropped; nesting deeper than 32 is shown as text. Every
// other "<", ">" and "&" (except a character reference) is escaped. Line ends
// are kept as they are. Character references are kept when ReferenceAt reads
// them.
CleanMarkup SanitizeMarkup(std::string_view text);

// The character reference at the start of `text` ("&amp;", "&#23435;",
// "&shy;") as browsers read it in HTML text: its length and the character
// it stands for. Length 0 when it is none, or names a character outside the
// few names kept: SanitizeMarkup keeps only these, so that what a page
// shows can be read back exactly.
struct CharacterReference {
  std::size_t length = 0;
  char32_t character = 0;
};
CharacterReference ReferenceAt(std::string_view text);

// The first position from `i` where one of the eight bytes there may be
// "&", "<" or ">" (with `quotes` also either quote), or where fewer than eight
// are left: every byte before it is none of them. Scans of values that may be
// the whole page pass over runs of Chinese text and words eight bytes at a
// time with this, and look at the bytes one by one only near a mark-up byte.
inline std::size_t SkipPlainHtml(std::string_view text, std::size_t i, bool quotes) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kTops = kOnes * 0x80;
  // Whether a byte of `word` is `c` (exact as a whole, though not per byte).
  const auto holds = [](std::uint64_t word, char c) {
    const std::uint64_t x = word ^ (kOnes * static_cast<unsigned char>(c));
    return (x - kOnes) & ~x & kTops;
  };
  while (i <= text.size() && text.size() - i >= 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + i, sizeof word);
    // All five bytes are below 0x40; Chinese text and letters are not.
    if (((word - kOnes * 0x40) & ~word & kTops) != 0) {
      std::uint64_t found = holds(word, '&') | holds(word, '<') | holds(word, '>');
      if (quotes) found |= holds(word, '"') | holds(word, '\'');
      if (found != 0) break;
    }
    i += 8;
  }
  return i;
}

// `text` as HTML text: "&", "<" and ">" escaped, and with `quotes` also both
// quotes, so that it may stand in an attribute value of either quoting.
void AppendEscapedHtml(std::string& out, std::string_view text, bool quotes = true);
std::string EscapeHtml(std::string_view text, bool quotes = true);

}  // namespace heartpage
