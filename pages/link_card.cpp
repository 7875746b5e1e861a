#include "pages/link_card.h"

#include <algorithm>

#include "pages/builders.h"
#include "text/utf8.h"

namespace heartpage {
namespace {

// The characters outside tags; a "<" without its ">" is kept as text.
std::string WithoutMarkup(std::string_view text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t close = text[i] == '<' ? text.find('>', i) : std::string_view::npos;
    if (close != std::string_view::npos) {
      plain += ' ';
      i = close + 1;
    } else {
      plain += text[i++];
    }
  }
  return plain;
}

// Whether a line says something rather than naming someone or heading a
// part ("晓雨", "* 我们的故事", "Our Story 我们的故事", "(我要宣告我的爱!)"): ten
// Chinese characters or more, a letter, digit or mark counting half of one
// and blanks nothing. A chat showing a bare name under the title learns
// nothing. The server's page check takes a line under 20 characters for a
// name (kBareReach).
bool SaysSomething(std::string_view line) {
  constexpr int kEnough = 20;  // in halves of a Chinese character
  int said = 0;
  for (std::size_t i = 0; i < line.size() && said < kEnough;) {
    const auto lead = static_cast<unsigned char>(line[i]);
    const std::size_t length = std::min<std::size_t>(lead < 0x80    ? 1
                                                     : lead >= 0xF0 ? 4
                                                     : lead >= 0xE0 ? 3
                                                                    : 2,
                                                     line.size() - i);
    if (lead >= 0x80) {
      const auto second = static_cast<unsigned char>(length > 1 ? line[i + 1] : 0);
      const auto third = static_cast<unsigned char>(length > 2 ? line[i + 2] : 0);
      // CJK punctuation (U+3000-U+303F) and the full-width forms' marks
      // (U+FF00-U+FF0F, U+FF1A-U+FF20) count as marks.
      const bool mark =
          length == 3 &&
          ((lead == 0xE3 && second == 0x80) ||
           (lead == 0xEF && second == 0xBC && (third <= 0x8F || (third >= 0x9A && third <= 0xA0))));
      said += mark ? 1 : 2;
    } else if (line[i] != ' ' && line[i] != '\t') {
      said += 1;
    }
    i += length;
  }
  return said >= kEnough;
}

bool IsTitle(const FieldRow& row) {
  return row.key == "浏览器标题" || row.caption.find("网站标题") != std::string::npos ||
         row.caption == "标题";
}

FieldRow Row(std::string_view key, int times) {
  FieldRow row;
  row.control = "LinkCard";
  row.key = std::string(key);
  row.times = times;
  row.kind = FieldKind::kText;
  return row;
}

}  // namespace

const std::vector<FieldRow>& LinkCardRows() {
  static const std::vector<FieldRow> rows = {Row("卡片标题", 1), Row("卡片文字", 2),
                                             Row("卡片图片", 1)};
  return rows;
}

const FieldRow& TitleRow(const Style& style) {
  const auto it = std::find_if(style.rows.begin(), style.rows.end(), IsTitle);
  return it == style.rows.end() ? style.rows.front() : *it;
}

std::string FirstMessageLine(const Style& style, const FieldSource& fields) {
  std::vector<const FieldRow*> rows;
  for (const FieldRow& row : style.rows) rows.push_back(&row);
  std::ranges::stable_sort(rows, {}, &FieldRow::index);
  for (const FieldRow* row : rows) {
    if (row->kind != FieldKind::kText || IsTitle(*row)) continue;
    std::string line = FirstLineOf(fields.Value(row->Name()));
    if (!line.empty()) return line;
  }
  return {};
}

std::string CardLine(const Style& style, const FieldSource& fields) {
  std::vector<const FieldRow*> rows;
  for (const FieldRow& row : style.rows) rows.push_back(&row);
  std::ranges::stable_sort(rows, {}, &FieldRow::index);
  for (const FieldRow* row : rows) {
    if (row->kind != FieldKind::kText || IsTitle(*row)) continue;
    std::string line = CardLineOf(fields.Value(row->Name()));
    if (!line.empty()) return line;
  }
  return {};
}

std::string FirstLineOf(std::string_view text) {
  const std::string plain = WithoutMarkup(text);
  std::string_view rest = plain;
  while (!rest.empty()) {
    const auto stop =
        std::find_if(rest.begin(), rest.end(), [](char c) { return c == '\r' || c == '\n'; });
    const auto end = static_cast<std::size_t>(stop - rest.begin());
    const std::string_view line = Trimmed(rest.substr(0, end));
    if (!line.empty()) return std::string(line);
    rest.remove_prefix(std::min(end + 1, rest.size()));
  }
  return {};
}

std::string CardLineOf(std::string_view text) {
  constexpr std::size_t kCharacters = 100;
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  std::string line;
  std::size_t characters = 0;  // from the first that is not blank
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '<') {
      const std::size_t close = text.find('>', i);
      if (close != std::string_view::npos) {
        c = ' ';
        i = close;
      }
    }
    if (c == '\r' || c == '\n') {
      if (characters > 0) break;
      line.clear();
      continue;
    }
    if (characters == 0 && blank(c)) continue;
    line += c;
    if (!IsUtf8Continuation(c)) ++characters;
    // A character past the card's length that no trimming takes leaves
    // the first ones as they are.
    if (characters > kCharacters && !blank(c)) break;
  }
  // A field whose first line is only a name leaves the card to the next.
  std::string card = CardText(std::string(Trimmed(line)));
  return SaysSomething(card) ? card : std::string();
}

// A chat shows a card's line on a line or two: more would only make every
// page longer by a copy of its message.
std::string CardText(std::string line) {
  constexpr std::size_t kCharacters = 100;
  line.resize(Utf8Prefix(line, kCharacters).size());
  return line;
}

bool IsAbsoluteWebAddress(std::string_view address) {
  const auto starts = [&](std::string_view scheme) {
    if (address.size() <= scheme.size()) return false;
    for (std::size_t i = 0; i < scheme.size(); ++i) {
      const char c = address[i];
      if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != scheme[i]) return false;
    }
    return true;
  };
  return starts("http://") || starts("https://");
}

std::size_t CardPartAt(std::string_view page) {
  const std::size_t head = page.find("</head>");
  return head == std::string_view::npos ? 0 : head;
}

}  // namespace heartpage
