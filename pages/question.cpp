#include "pages/question.h"

#include <array>
#include <stdexcept>

#include "pages/builders.h"
#include "pages/substitution.h"
#include "pages/templates.h"

namespace heartpage {
namespace {

// A typed text as one line, without the spaces around it (the full-width
// one of Chinese input included): a question and its answers are read at a
// glance, and wrap where the screen ends.
std::string Trimmed(std::string typed) {
  std::string text;
  for (std::size_t i = 0; i < typed.size(); ++i) {
    if (typed[i] == '\r' && i + 1 < typed.size() && typed[i + 1] == '\n') ++i;
    text += typed[i] == '\r' || typed[i] == '\n' ? ' ' : typed[i];
  }
  static constexpr std::string_view kIdeographicSpace = "\xE3\x80\x80";
  for (bool again = true; again;) {
    again = false;
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20) text.pop_back();
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20) text.erase(0, 1);
    if (text.ends_with(kIdeographicSpace)) {
      text.resize(text.size() - kIdeographicSpace.size());
      again = true;
    }
    if (text.starts_with(kIdeographicSpace)) {
      text.erase(0, kIdeographicSpace.size());
      again = true;
    }
  }
  return text;
}

FieldRow Row(std::string_view field, std::string_view key) {
  FieldRow row;
  row.control = std::string(field);
  row.caption = std::string(field);
  row.key = std::string(key);
  row.times = 1;
  row.kind = FieldKind::kText;
  return row;
}

}  // namespace

std::optional<AskedQuestion> QuestionOf(const FieldSource& fields) {
  AskedQuestion asked{Trimmed(fields.Value(question::kQuestionField)),
                      Trimmed(fields.Value(question::kAnswer1Field)),
                      Trimmed(fields.Value(question::kAnswer2Field))};
  if (asked.question.empty()) return std::nullopt;
  if (asked.answer1.empty()) asked.answer1 = question::kDefaultAnswer1;
  if (asked.answer2.empty()) asked.answer2 = question::kDefaultAnswer2;
  return asked;
}

const std::vector<FieldRow>& QuestionRows() {
  static const std::vector<FieldRow> rows = {Row(question::kQuestionField, "问TA一句"),
                                             Row(question::kAnswer1Field, "TA的回答一"),
                                             Row(question::kAnswer2Field, "TA的回答二")};
  return rows;
}

const std::vector<std::string>& QuestionFieldNames() {
  static const std::vector<std::string> names = {std::string(question::kQuestionField),
                                                 std::string(question::kAnswer1Field),
                                                 std::string(question::kAnswer2Field)};
  return names;
}

std::string_view QuestionTemplate(int style) {
  static const std::array<std::string, kStyleCount> parts = [] {
    std::array<std::string, kStyleCount> bound;
    for (int n = 1; n <= kStyleCount; ++n) {
      std::string part(QuestionPartTemplate());
      ReplaceAll(part, "{page-style}", std::to_string(n));
      bound[static_cast<std::size_t>(n - 1)] = std::move(part);
    }
    return bound;
  }();
  if (style < 1 || style > kStyleCount)
    throw std::out_of_range("no question part for style " + std::to_string(style));
  return parts[static_cast<std::size_t>(style - 1)];
}

std::size_t QuestionPartAt(std::string_view page) {
  const std::size_t end = page.rfind("</body>");
  return end == std::string_view::npos ? page.size() : end;
}

}  // namespace heartpage
