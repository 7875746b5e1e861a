// The server's form parser: any body it accepts holds well-named fields that
// a client could have posted, and every body the client builds parses back to
// the GBK bytes of exactly the values it was built from.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <variant>

#include "protocol/requests.h"
#include "server/site/common/form.h"
#include "tests/fuzz/fuzz_check.h"
#include "text/gbk.h"
#include "text/value_encoding.h"

using heartpage::ToGbk;
using heartpage::server::FormError;
using heartpage::server::FormFields;
using heartpage::server::ParseForm;

namespace {

bool Parses(const std::string& body, const FormFields& expected) {
  const auto parsed = ParseForm(body);
  return std::holds_alternative<FormFields>(parsed) && std::get<FormFields>(parsed) == expected;
}

void ParseArbitrary(std::string_view body) {
  const auto parsed = ParseForm(body);
  if (const auto* error = std::get_if<FormError>(&parsed)) {
    FUZZ_CHECK(!error->message.empty());
    return;
  }
  const FormFields& fields = std::get<FormFields>(parsed);
  FUZZ_CHECK(!fields.empty());
  std::string rebuilt;
  for (const auto& [name, value] : fields) {
    FUZZ_CHECK(!name.empty() && name.find_first_of("&=") == std::string::npos);
    const std::string text = heartpage::FromGbk(value);
    if (ToGbk(text) != value) return;  // bytes the encoder cannot write
    rebuilt += (rebuilt.empty() ? "" : "&") + name + "=" + heartpage::EncodeValue(text);
  }
  FUZZ_CHECK(Parses(rebuilt, fields));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ParseArbitrary(heartpage::fuzz::AsText(data, size));

  FuzzedDataProvider provider(data, size);
  const int operation = provider.ConsumeIntegral<int>();
  const std::string first = provider.ConsumeRandomLengthString();
  const std::string machine_id = provider.ConsumeRandomLengthString();
  const std::string second = provider.ConsumeRemainingBytesAsString();
  FUZZ_CHECK(Parses(heartpage::StatementBody(operation, first),
                    {{"zc", std::to_string(operation)}, {"sql", ToGbk(first)}}));
  FUZZ_CHECK(Parses(
      heartpage::PageStoreRequest(first, machine_id, second),
      {{"zc", "4"}, {"File", ToGbk(first)}, {"ID", ToGbk(machine_id)}, {"data", ToGbk(second)}}));
  return 0;
}
