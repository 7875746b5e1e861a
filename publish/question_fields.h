#pragma once

#include <array>
#include <cstddef>
#include <string_view>

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
