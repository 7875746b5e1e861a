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

bool NamesSomeone(const FieldRow& row) {
  const std::string_view caption = row.caption;
  return caption.ends_with("名字：") || caption.ends_with("署名：") ||
         caption.find("姓名") != std::string_view::npos;
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

std::string CardLine(const Style& style, const FieldSource& fields,
                     const std::function<bool(const FieldRow&)>& gives) {
  std::vector<const FieldRow*> rows;
  for (const FieldRow& row : style.rows) rows.push_back(&row);
  std::ranges::stable_sort(rows, {}, &FieldRow::index);
  for (const FieldRow* row : rows) {
    if (row->kind != FieldKind::kText || IsTitle(*row) || (gives && !gives(*row))) continue;
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
  return CardText(std::string(Trimmed(line)));
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
