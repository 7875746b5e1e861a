#pragma once

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
