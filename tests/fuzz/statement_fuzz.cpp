// The server's statement parser against the client's quoting: any values the
// client quotes come back exactly, and any text the parser accepts is exactly
// the statement the client would have composed from what it read.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <variant>

#include "protocol/requests.h"
#include "server/site/common/statement.h"
#include "tests/fuzz/fuzz_check.h"

namespace server = heartpage::server;

namespace {

// The statement the client composes for a parsed one; empty for an error.
std::string Recomposed(const server::Statement& statement) {
  if (std::holds_alternative<server::SettingsQuery>(statement))
    return heartpage::wire::SettingsStatement();
  if (const auto* lookup = std::get_if<server::MachineLookup>(&statement))
    return heartpage::wire::OwnershipLookupStatement(lookup->machine_id);
  if (const auto* lookup = std::get_if<server::NameLookup>(&statement))
    return heartpage::wire::NameLookupStatement(lookup->name);
  if (const auto* claim = std::get_if<server::NameClaim>(&statement))
    return heartpage::wire::NameClaimStatement(claim->machine_id, claim->name);
  FUZZ_CHECK(!std::get<server::StatementError>(statement).message.empty());
  return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view whole = heartpage::fuzz::AsText(data, size);
  const server::Statement parsed = server::ParseStatement(whole);
  if (!std::holds_alternative<server::StatementError>(parsed))
    FUZZ_CHECK(Recomposed(parsed) == whole);

  FuzzedDataProvider provider(data, size);
  const std::string a = provider.ConsumeRandomLengthString();
  const std::string b = provider.ConsumeRemainingBytesAsString();

  const server::Statement machine =
      server::ParseStatement(heartpage::wire::OwnershipLookupStatement(a));
  FUZZ_CHECK(std::holds_alternative<server::MachineLookup>(machine) &&
             std::get<server::MachineLookup>(machine).machine_id == a);
  const server::Statement name = server::ParseStatement(heartpage::wire::NameLookupStatement(a));
  FUZZ_CHECK(std::holds_alternative<server::NameLookup>(name) &&
             std::get<server::NameLookup>(name).name == a);
  const server::Statement claim = server::ParseStatement(heartpage::wire::NameClaimStatement(a, b));
  FUZZ_CHECK(std::holds_alternative<server::NameClaim>(claim) &&
             std::get<server::NameClaim>(claim).machine_id == a &&
             std::get<server::NameClaim>(claim).name == b);
  return 0;
}
