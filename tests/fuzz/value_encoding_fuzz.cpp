// The decimal value codes: whatever text arrives is either refused with a
// reason or stands for bytes that, when they are GBK text, the encoder
// re-encodes to codes of exactly those bytes; and every text the client
// encodes reads back as exactly its GBK bytes.
#include <cstring>
#include <string>

#include "tests/fuzz/fuzz_check.h"
#include "text/gbk.h"
#include "text/value_encoding.h"

using heartpage::DecodeValue;
using heartpage::EncodeValue;
using heartpage::FromGbk;
using heartpage::ToGbk;

namespace {

// Codes may only hold digits, minus signs and the "A" that joins them: no
// "&", "=", space or non-ASCII byte can ever reach a form body.
bool OnlyCodeCharacters(std::string_view codes) {
  for (const char c : codes)
    if (!((c >= '0' && c <= '9') || c == '-' || c == 'A')) return false;
  return true;
}

void DecodeArbitrary(std::string_view codes) {
  std::string why;
  const std::optional<std::string> bytes = DecodeValue(codes, &why);
  if (!bytes) {
    FUZZ_CHECK(why.starts_with("code "));
    return;
  }
  const std::string text = FromGbk(*bytes);
  if (ToGbk(text) != *bytes) return;  // not GBK text: the endpoint refuses it later
  const std::string canonical = EncodeValue(text);
  FUZZ_CHECK(DecodeValue(canonical) == *bytes);
}

void EncodeArbitrary(std::string_view text) {
  const std::string codes = EncodeValue(text);
  FUZZ_CHECK(OnlyCodeCharacters(codes));
  const std::optional<std::string> bytes = DecodeValue(codes);
  FUZZ_CHECK(bytes == ToGbk(text));
  if (heartpage::fuzz::IsWellFormedUtf8(text)) FUZZ_CHECK(FromGbk(*bytes) == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = heartpage::fuzz::AsText(data, size);
  DecodeArbitrary(input);
  EncodeArbitrary(input);
  if (size >= sizeof(long long)) {
    long long number;
    std::memcpy(&number, data, sizeof number);
    FUZZ_CHECK(DecodeValue(EncodeValue(number)) == std::to_string(number));
  }
  return 0;
}
