#include "app/cli/arguments.h"

#include <charconv>
#include <optional>
#include <utility>

#include "pages/question.h"
#include "pages/styles.h"
#include "publish/page_gate.h"
#include "text/utf8.h"

namespace heartpage::cli {
namespace {

int ParseStyle(const std::string& text) {
  int style = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), style);
  if (ec != std::errc() || end != text.data() + text.size() || style < 1 || style > kStyleCount)
    throw UsageError("unknown style \"" + text + "\"; styles are 1 to 8");
  return style;
}

bool Blank(const std::string& text) {
  return text.find_first_not_of(" \t") == std::string::npos;
}

// "A,B": exactly two answers, each with something in it; a Chinese comma
// separates them as well, as it is what such a list is typed with.
std::pair<std::string, std::string> ParseAnswers(const std::string& text) {
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == ',') {
      parts.emplace_back();
    } else if (text.compare(i, 3, "，") == 0) {
      parts.emplace_back();
      i += 2;
    } else {
      parts.back() += text[i];
    }
  }
  const auto bad = [&](const std::string& why) {
    return UsageError("--answers \"" + text + "\": " + why + "; expected two answers, e.g. '" +
                      std::string(question::kDefaultAnswer1) + "," +
                      std::string(question::kDefaultAnswer2) + "'");
  };
  if (parts.size() != 2) throw bad("not two answers separated by a comma");
  for (const std::string& part : parts) {
    if (Blank(part)) throw bad("an answer is empty");
    if (Utf8Characters(part) > question::kMaxAnswerLength)
      throw bad("an answer is longer than " + std::to_string(question::kMaxAnswerLength) +
                " characters");
  }
  return {parts[0], parts[1]};
}

// The moment in UTC, the code and the hint, as the store sends them.
wire::PageSettings ParseGate(const std::optional<std::string>& opens, const std::string& code,
                             const std::string& hint) {
  wire::PageSettings settings;
  // An empty moment is none: the page opens at once.
  if (opens && !Blank(*opens)) {
    const std::optional<std::string> utc = UtcOfLocalMinute(*opens);
    if (!utc)
      throw UsageError("--opens \"" + *opens +
                       "\" is no local time; expected 'YYYY-MM-DD HH:MM', e.g. '2027-02-14 20:00'");
    if (*utc <= NowUtc())
      throw UsageError("--opens \"" + *opens +
                       "\" has passed; leave it out (or give '') to open the page at once");
    settings.opens = *utc;
  }
  settings.code = code;
  settings.hint = hint;
  if (!code.empty() && hint.empty())
    throw UsageError("--code needs a --hint, which the reader sees where the code is asked");
  if (code.empty() && !hint.empty()) throw UsageError("--hint needs a --code to be the hint of");
  if (const std::string problem = wire::PageSettingsProblem(settings); !problem.empty())
    throw UsageError("--code and --hint: " + problem);
  return settings;
}

}  // namespace

PageRequest ParsePageRequest(const Arguments& args) {
  PageRequest request;
  request.style = ParseStyle(args.Value("--style").value_or(""));
  const std::vector<std::string> sets = args.Values("--set");
  const bool checked = args.Has("--check");
  request.output = args.Value("-o").value_or("");
  request.name = args.Value("--name").value_or("");
  request.strict = args.Has("--strict");
  const std::optional<std::string> asked = args.Value("--question");
  const std::optional<std::string> answers = args.Value("--answers");
  const std::optional<std::string> opens = args.Value("--opens");
  const std::string code = args.Value("--code").value_or("");
  const std::string hint = args.Value("--hint").value_or("");

  const Style& style = GetStyle(request.style);
  request.fields = FieldMap::Defaults(style);
  if (checked && !style.has_check)
    throw UsageError("style " + std::to_string(style.number) + " has no check box");
  request.fields.checked = checked;
  for (const std::string& set : sets) {
    // Field names hold no "=", so the first one ends the name; the value may
    // contain any text, "=" included.
    const auto eq = set.find('=');
    if (eq == std::string::npos)
      throw UsageError("malformed --set \"" + set +
                       "\"; expected FIELD=VALUE, e.g. 'Text1(3)=你好'");
    const std::string field = set.substr(0, eq);
    if (FindField(style, field) == nullptr)
      throw UsageError("style " + std::to_string(style.number) + " has no field \"" + field + "\"");
    request.fields.values[field] = set.substr(eq + 1);
  }

  // Without a question the page asks nothing; the answers then mean nothing.
  if (answers && (!asked || Blank(*asked)))
    throw UsageError("--answers needs a --question to answer");
  // The page shows each on one line, as the editors' boxes take them.
  for (const std::optional<std::string>* text : {&asked, &answers})
    if (*text && (*text)->find_first_of("\r\n") != std::string::npos)
      throw UsageError("--question and --answers are one line each");
  if (asked && Utf8Characters(*asked) > question::kMaxQuestionLength)
    throw UsageError("--question is longer than " + std::to_string(question::kMaxQuestionLength) +
                     " characters");
  const auto [first, second] = answers ? ParseAnswers(*answers)
                                       : std::pair{std::string(question::kDefaultAnswer1),
                                                   std::string(question::kDefaultAnswer2)};
  request.fields.values[std::string(question::kQuestionField)] = asked.value_or("");
  request.fields.values[std::string(question::kAnswer1Field)] = first;
  request.fields.values[std::string(question::kAnswer2Field)] = second;
  request.settings = ParseGate(opens, code, hint);
  return request;
}

}  // namespace heartpage::cli
