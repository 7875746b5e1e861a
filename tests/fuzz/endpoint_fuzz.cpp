// The form endpoint over a storage in memory: a refused request (4xx) leaves
// the storage exactly as it was, a query never changes it, and every answer
// is either a record set the client can read or a short refusal.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <string>

#include "protocol/requests.h"
#include "server/site/endpoint/endpoint.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/memory_storage.h"
#include "text/gbk.h"
#include "text/value_encoding.h"

using heartpage::EncodeValue;

namespace {

// Few names and identifiers, so that claims and stores meet each other.
std::string NameOrIdentifier(FuzzedDataProvider& provider, bool name) {
  static constexpr std::array<std::string_view, 4> kNames = {"a", "A", "page1", "Page1"};
  static constexpr std::array<std::string_view, 3> kIds = {"m1", "m2", "ゼ"};
  if (provider.ConsumeBool()) return provider.ConsumeRandomLengthString(40);
  return std::string(name ? provider.PickValueInArray(kNames) : provider.PickValueInArray(kIds));
}

struct Body {
  std::string text;
  bool query = false;  // operation 1, whatever else the body holds
};

Body NextBody(FuzzedDataProvider& provider) {
  switch (provider.ConsumeIntegralInRange(0, 8)) {
    case 0:
      return {provider.ConsumeRandomLengthString(512)};
    case 1: {
      const int operation = provider.ConsumeIntegralInRange(0, 5);
      return {heartpage::StatementBody(operation, provider.ConsumeRandomLengthString(200)),
              operation == 1};
    }
    case 2: {
      const std::string id = NameOrIdentifier(provider, false);
      return {heartpage::NameClaimRequest(id, NameOrIdentifier(provider, true))};
    }
    case 3:
      return {heartpage::OwnershipLookupRequest(NameOrIdentifier(provider, false)), true};
    case 4:
      return {heartpage::NameLookupRequest(NameOrIdentifier(provider, true)), true};
    case 5:
      return {heartpage::SettingsRequest(), true};
    case 6:
      return {heartpage::PreviewStoreRequest(NameOrIdentifier(provider, false),
                                             provider.ConsumeRandomLengthString(200))};
    case 7: {
      const std::string name = NameOrIdentifier(provider, true);
      return {heartpage::ReleaseRequest(name, NameOrIdentifier(provider, false))};
    }
    default: {
      const std::string name = NameOrIdentifier(provider, true);
      const std::string id = NameOrIdentifier(provider, false);
      std::string body = "zc=" + EncodeValue("4") + "&File=" + EncodeValue(name);
      if (provider.ConsumeBool()) body += "&ID=" + EncodeValue(id);
      return {body + "&data=" + EncodeValue(provider.ConsumeRandomLengthString(200))};
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  heartpage::fuzz::MemoryStorage storage;
  for (int requests = provider.ConsumeIntegralInRange(1, 8); requests > 0; --requests) {
    const Body body = NextBody(provider);
    const auto before = storage.Contents();
    const heartpage::server::EndpointReply reply =
        heartpage::server::HandleEndpoint(storage, body.text, "pages.example:80");
    const bool refused = reply.status >= 400 && reply.status < 500;
    FUZZ_CHECK(reply.status == 200 || refused);
    if (refused || body.query) FUZZ_CHECK(storage.Contents() == before);
    if (refused) FUZZ_CHECK(!reply.records && reply.body.ends_with('\n'));
    if (reply.records) {
      // Every row has its three fields (four for the owner's, which says
      // when its page was stored; six for the settings), each closed by its
      // mark.
      const auto first = heartpage::wire::FirstRecord(heartpage::FromGbk(reply.body));
      if (!reply.body.empty())
        FUZZ_CHECK(first && (first->size() == 4 || first->size() == 5 || first->size() == 7));
    }
  }
  return 0;
}
