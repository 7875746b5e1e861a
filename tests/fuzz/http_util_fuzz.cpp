// Range, date and validator parsing of page requests: every range accepted
// lies inside the file, every date read back is the date written, and a log
// line cannot be forged through a request path.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "server/http_util.h"
#include "tests/fuzz/fuzz_check.h"

namespace server = heartpage::server;

namespace {

// 0001-01-01 to 9999-12-31, the years the date format can spell.
constexpr std::int64_t kFirstSecond = -62135596800;
constexpr std::int64_t kLastSecond = 253402300799;

void CheckRange(FuzzedDataProvider& provider, std::string_view header) {
  const std::uint64_t size = provider.ConsumeBool() ? provider.ConsumeIntegralInRange(0, 100)
                                                    : provider.ConsumeIntegral<std::uint64_t>();
  const server::RangeRequest request = server::ParseRange(header, size);
  if (request.kind == server::RangeRequest::Kind::kPart)
    FUZZ_CHECK(request.range.first <= request.range.last && request.range.last < size);
}

void CheckDate(FuzzedDataProvider& provider, std::string_view text) {
  if (const std::optional<std::int64_t> date = server::ParseHttpDate(text)) {
    if (*date >= kFirstSecond && *date <= kLastSecond)
      FUZZ_CHECK(server::ParseHttpDate(server::FormatHttpDate(*date)) == date);
  }
  const std::int64_t second = provider.ConsumeIntegralInRange(kFirstSecond, kLastSecond);
  FUZZ_CHECK(server::ParseHttpDate(server::FormatHttpDate(second)) == second);
}

void CheckValidators(FuzzedDataProvider& provider, std::string_view if_none_match) {
  const std::string etag = "\"" + provider.ConsumeRandomLengthString(16) + "\"";
  const std::int64_t modified = provider.ConsumeIntegral<std::int64_t>();
  const std::string since = server::FormatHttpDate(modified);
  // If-None-Match, when sent, decides alone.
  if (!if_none_match.empty())
    FUZZ_CHECK(server::NotModified(if_none_match, since, etag, modified) ==
               server::EtagMatches(if_none_match, etag));
  if (etag.find(',') == std::string::npos) {
    const std::string list = std::string(if_none_match) + ", W/" + etag + " ,\"other\"";
    FUZZ_CHECK(server::EtagMatches(list, etag));
  }
}

void CheckLogPath(std::string_view target) {
  for (const char c : server::LoggablePath(target))
    FUZZ_CHECK(static_cast<unsigned char>(c) > 0x20 && static_cast<unsigned char>(c) < 0x7F);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = heartpage::fuzz::AsText(data, size);
  FuzzedDataProvider provider(data, size);
  CheckRange(provider, input);
  CheckDate(provider, input);
  CheckValidators(provider, input);
  CheckLogPath(input);
  return 0;
}
