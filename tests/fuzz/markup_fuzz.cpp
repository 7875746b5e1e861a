// The allow-list of a sender's HTML: what it keeps is kept again unchanged
// (so no tag is left open, no stray closing tag or unknown tag survives and
// every "<" it writes starts a tag of the list), and well-formed text stays
// well-formed.
#include <string>

#include "tests/fuzz/fuzz_check.h"
#include "text/markup.h"

using heartpage::SanitizeMarkup;
using heartpage::fuzz::IsWellFormedUtf8;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = heartpage::fuzz::AsText(data, size);
  const heartpage::CleanMarkup clean = SanitizeMarkup(input);
  const heartpage::CleanMarkup again = SanitizeMarkup(clean.html);
  FUZZ_CHECK(again.html == clean.html);
  FUZZ_CHECK(again.holds_markup == clean.holds_markup);
  if (!clean.holds_markup) FUZZ_CHECK(clean.html.find('<') == std::string::npos);
  if (IsWellFormedUtf8(input)) FUZZ_CHECK(IsWellFormedUtf8(clean.html));
  return 0;
}
