// The page check against the builders: any page the builders make from any
// field values passes and reads back the question it asks, and anything else
// is refused with one line, never crashing or running away on what a
// stranger sends.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <string>
#include <string_view>

#include "pages/builders.h"
#include "pages/styles.h"
#include "pages/templates.h"
#include "protocol/host.h"
#include "server/site/policy/page_check.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using namespace heartpage;

constexpr std::string_view kHost = "pages.example.test:8080";

// What senders type, in pieces that keep it valid UTF-8: markup and script
// characters, entities, line ends, CJK, emoji and the scripts' line
// separators.
constexpr std::array<std::string_view, 40> kPieces = {
    "a",   "Z",     "7",           " ",       "<",
    ">",   "&",     "\"",          "'",       "`",
    "\\",  "/",     "*",           "\n",      "\r\n",
    "\t",  "&amp;", "<b>",         "</b>",    "<br>",
    "爱",  "心",    "思雨",        "😀",       "\u2028",
    "#",   "%",     "%41",         ";",       "</script>",
    "-->", "${",    "javascript:", "http://", "https://x.test/a.jpg",
    "(",   "{",     "}",           "=",       "?"};

std::string Text(FuzzedDataProvider& in) {
  std::string text;
  for (int n = in.ConsumeIntegralInRange(0, 8); n > 0; --n)
    text += kPieces[in.ConsumeIntegralInRange<std::size_t>(0, kPieces.size() - 1)];
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const HostAddress host = ParseHost(kHost);
  if (in.ConsumeBool()) {
    const Style& style = GetStyle(in.ConsumeIntegralInRange(1, kStyleCount));
    FieldMap fields = FieldMap::Defaults(style);
    fields.checked = style.has_check && in.ConsumeBool();
    for (const FieldRow& row : style.rows)
      if (in.ConsumeBool()) fields.values[row.Name()] = Text(in);
    if (in.ConsumeBool()) fields.values["Question"] = Text(in);
    if (in.ConsumeBool()) fields.values["Answer1"] = Text(in);
    if (in.ConsumeBool()) fields.values["Answer2"] = Text(in);
    const std::string page = BuildPage(style.number, fields, host);
    const server::PageCheck check = server::CheckPage(page, kHost);
    FUZZ_CHECK(check.genuine);
    FUZZ_CHECK(check.style == style.number);
    FUZZ_CHECK(check.question.empty() == check.answers.empty());
    return 0;
  }
  const server::PageCheck check = server::CheckPage(in.ConsumeRemainingBytesAsString(), kHost);
  if (check.genuine) {
    FUZZ_CHECK(check.style >= 1 && check.style <= kStyleCount);
  } else {
    FUZZ_CHECK(!check.refusal.empty());
    FUZZ_CHECK(check.refusal.find('\n') == std::string::npos);
  }
  return 0;
}
