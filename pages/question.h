#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pages/styles.h"

// The question a page may ask its reader, with two answers to tap: one part
// shared by every style, put in front of the end of the page's body once the
// style's own fields are in place, so that a page asking nothing is the
// style's page alone.
namespace heartpage {

class FieldSource;

struct AskedQuestion {
  std::string question;
  std::string answer1;
  std::string answer2;
};

// What the fields Question, Answer1 and Answer2 ask, each on one line (line
// ends as spaces) and trimmed, an answer left blank being its default;
// nothing when the question is blank.
std::optional<AskedQuestion> QuestionOf(const FieldSource& fields);

// The part's three rows, in the order the builder fills them: the question
// and the two answers, each text written where its key stands.
const std::vector<FieldRow>& QuestionRows();
// The field each of QuestionRows() is read from: "Question", "Answer1" and
// "Answer2".
const std::vector<std::string>& QuestionFieldNames();

// The part as style 1 ... 8 shows it, its keys still in place: each style
// tells the part when its story has been told. It names no host.
std::string_view QuestionTemplate(int style);

// Where the part goes in a page of any style: in front of its last </body>.
std::size_t QuestionPartAt(std::string_view page);

}  // namespace heartpage

// The question a page may ask its reader, with the two answers offered: the
// names every editor, draft and command line gives these three values (and
// the builders read), and what a new question starts from.
namespace heartpage::question {

inline constexpr std::string_view kQuestionField = "Question";
inline constexpr std::string_view kAnswer1Field = "Answer1";
inline constexpr std::string_view kAnswer2Field = "Answer2";

inline constexpr std::string_view kDefaultAnswer1 = "我愿意";
inline constexpr std::string_view kDefaultAnswer2 = "让我想想";

// The three fields with what each holds until the sender words it; an answer
// left empty keeps its default.
struct QuestionDefault {
  std::string_view field;
  std::string_view value;
};
inline constexpr std::array<QuestionDefault, 3> kDefaults{{
    {kQuestionField, ""},
    {kAnswer1Field, kDefaultAnswer1},
    {kAnswer2Field, kDefaultAnswer2},
}};

// In characters as the reader sees them: a question fits a phone's width in
// two lines, an answer on a button that sits beside the other one.
inline constexpr std::size_t kMaxQuestionLength = 50;
inline constexpr std::size_t kMaxAnswerLength = 10;

}  // namespace heartpage::question
