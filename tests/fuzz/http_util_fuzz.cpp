// Range, date, validator and Accept-Encoding parsing of page requests: every
// range accepted lies inside the file, every date read back is the date
// written, a refusal of gzip is never overruled, and a log line cannot be
// forged through a request path.
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <string>

#include "server/http/request_log.h"
#include "server/site/common/http_util.h"
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

void CheckAcceptEncoding(std::string_view accept_encoding) {
  const std::string value(accept_encoding);
  // However the list goes on, gzip;q=0 in it refuses gzip.
  FUZZ_CHECK(!server::AcceptsGzip(value + ",gzip;q=0"));
  FUZZ_CHECK(!server::AcceptsGzip("GZIP ; Q=0.000, " + value));
  // And gzip named first with no weight is never refused by what follows,
  // unless that names gzip too.
  std::string lower = value;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower.find("gzip") == std::string::npos) FUZZ_CHECK(server::AcceptsGzip("gzip, " + value));
  // The compressed form's validator never passes for the other.
  const std::string etag = "\"" + value.substr(0, 16) + "\"";
  FUZZ_CHECK(!server::EtagMatches(server::GzipEtag(etag), etag));
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
  CheckAcceptEncoding(input);
  CheckLogPath(input);
  return 0;
}
