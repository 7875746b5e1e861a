// The GBK/GB18030 boundary: well-formed UTF-8 survives the trip out and back
// unchanged, and whatever bytes arrive decode to well-formed UTF-8 that the
// codec then reproduces; read exactly, only bytes it would write again.
#include <optional>
#include <string>

#include "tests/fuzz/fuzz_check.h"
#include "text/gbk.h"

using heartpage::FromGbk;
using heartpage::ToGbk;
using heartpage::fuzz::IsWellFormedUtf8;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = heartpage::fuzz::AsText(data, size);

  // The input as the program's own text.
  const std::string bytes = ToGbk(input);
  if (IsWellFormedUtf8(input)) FUZZ_CHECK(FromGbk(bytes) == input);

  // The input as bytes from outside. Several byte sequences may stand for one
  // character, so the bytes need not come back, but the text must.
  const std::string text = FromGbk(input);
  FUZZ_CHECK(IsWellFormedUtf8(text));
  FUZZ_CHECK(FromGbk(ToGbk(text)) == text);

  // Read exactly: the text when it writes back as these very bytes, else none.
  const std::optional<std::string> exact = heartpage::FromGbkExactly(input);
  FUZZ_CHECK(exact == (ToGbk(text) == input ? std::optional<std::string>(text) : std::nullopt));
  return 0;
}
