#include "server/site/common/http_util.h"
#include "server/storage/utc_text.h"
#include "text/ascii.h"
#include "text/utf8.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>

namespace heartpage::server {
namespace {

constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string_view Trim(std::string_view text) {
  return Trimmed(text, kHeaderBlanks);
}

std::string_view WithoutWeakPrefix(std::string_view tag) {
  if (tag.starts_with("W/")) tag.remove_prefix(2);
  return tag;
}

}  // namespace

std::string FormatHttpDate(std::int64_t seconds_since_epoch) {
  return UtcText(seconds_since_epoch, "%a, %d %b %Y %H:%M:%S GMT");
}

const std::string& CurrentHttpDate() {
  thread_local std::time_t cached_at = 0;
  thread_local std::string text;
  const std::time_t now = std::time(nullptr);
  if (now != cached_at) {
    cached_at = now;
    text = FormatHttpDate(now);
  }
  return text;
}

std::optional<std::int64_t> ParseHttpDate(std::string_view text) {
  const std::string value(Trim(text));
  char weekday[16] = {};
  char month[4] = {};
  int day = 0, year = 0, hour = 0, minute = 0, second = 0;
  int used = 0;
  // IMF-fixdate, then RFC 850, then asctime.
  bool parsed = std::sscanf(value.c_str(), "%15[A-Za-z], %2d %3s %4d %2d:%2d:%2d GMT%n", weekday,
                            &day, month, &year, &hour, &minute, &second, &used) == 7;
  if (!parsed) {
    parsed = std::sscanf(value.c_str(), "%15[A-Za-z], %2d-%3s-%2d %2d:%2d:%2d GMT%n", weekday, &day,
                         month, &year, &hour, &minute, &second, &used) == 7;
    if (parsed) year += year < 70 ? 2000 : 1900;
  }
  if (!parsed) {
    parsed = std::sscanf(value.c_str(), "%15[A-Za-z] %3s %2d %2d:%2d:%2d %4d%n", weekday, month,
                         &day, &hour, &minute, &second, &year, &used) == 7;
  }
  if (!parsed || static_cast<std::size_t>(used) != value.size()) return std::nullopt;
  int month_index = -1;
  for (std::size_t i = 0; i < kMonths.size(); ++i)
    if (kMonths[i] == month) month_index = static_cast<int>(i);
  if (month_index < 0 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
    return std::nullopt;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month_index;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return static_cast<std::int64_t>(timegm(&tm));
}

bool EtagMatches(std::string_view if_none_match, std::string_view etag) {
  if (Trim(if_none_match) == "*") return true;
  for (std::size_t pos = 0; pos <= if_none_match.size();) {
    const std::size_t end = std::min(if_none_match.find(',', pos), if_none_match.size());
    if (WithoutWeakPrefix(Trim(if_none_match.substr(pos, end - pos))) == WithoutWeakPrefix(etag))
      return true;
    pos = end + 1;
  }
  return false;
}

bool NotModified(std::string_view if_none_match, std::string_view if_modified_since,
                 std::string_view etag, std::int64_t modified) {
  if (!if_none_match.empty()) return EtagMatches(if_none_match, etag);
  if (if_modified_since.empty()) return false;
  const std::optional<std::int64_t> since = ParseHttpDate(if_modified_since);
  // Dates count whole seconds: a page replaced within the second the client's
  // date names may be newer than its copy, so only a later date vouches.
  return since && modified < *since;
}

RangeRequest ParseRange(std::string_view header, std::uint64_t size) {
  header = Trim(header);
  if (!header.starts_with("bytes=")) return {};
  const std::string_view bounds = Trim(header.substr(6));
  const std::size_t dash = bounds.find('-');
  if (dash == std::string_view::npos || bounds.find(',') != std::string_view::npos) return {};
  const std::string_view from = Trim(bounds.substr(0, dash));
  const std::string_view to = Trim(bounds.substr(dash + 1));
  RangeRequest request{RangeRequest::Kind::kPart, {}};
  if (from.empty()) {  // the last N bytes
    const std::optional<std::uint64_t> suffix = DecimalNumber(to, 19);
    if (!suffix) return {};
    if (*suffix == 0 || size == 0) return {RangeRequest::Kind::kUnsatisfiable, {}};
    request.range = {size - std::min(*suffix, size), size - 1};
    return request;
  }
  const std::optional<std::uint64_t> first = DecimalNumber(from, 19);
  const std::optional<std::uint64_t> last =
      to.empty() ? std::optional<std::uint64_t>(UINT64_MAX) : DecimalNumber(to, 19);
  if (!first || !last || *last < *first) return {};
  if (*first >= size) return {RangeRequest::Kind::kUnsatisfiable, {}};
  request.range = {*first, std::min(*last, size - 1)};
  return request;
}

namespace {

// A weight in thousandths: "0", "1", "0.5", "1.000"; nothing for anything else.
std::optional<int> ParseWeight(std::string_view text) {
  if (text.empty() || text.size() > 5 || (text[0] != '0' && text[0] != '1')) return std::nullopt;
  if (text.size() > 1 && text[1] != '.') return std::nullopt;
  int value = (text[0] - '0') * 1000;
  int scale = 100;
  for (const char c : text.substr(std::min<std::size_t>(2, text.size()))) {
    if (c < '0' || c > '9') return std::nullopt;
    value += (c - '0') * scale;
    scale /= 10;
  }
  if (value > 1000) return std::nullopt;
  return value;
}

}  // namespace

bool AcceptsGzip(std::string_view accept_encoding) {
  // Weights of gzip, identity and "*"; -1 while not named.
  int gzip = -1, identity = -1, any = -1;
  for (std::size_t pos = 0; pos < accept_encoding.size();) {
    const std::size_t end = std::min(accept_encoding.find(',', pos), accept_encoding.size());
    std::string_view element = accept_encoding.substr(pos, end - pos);
    pos = end + 1;
    const std::size_t semicolon = element.find(';');
    const std::string_view coding = Trim(element.substr(0, semicolon));
    int weight = 1000;
    if (semicolon != std::string_view::npos) {
      const std::string_view parameter = Trim(element.substr(semicolon + 1));
      if (parameter.size() < 2 || (parameter[0] != 'q' && parameter[0] != 'Q') ||
          parameter[1] != '=')
        continue;
      const std::optional<int> parsed = ParseWeight(parameter.substr(2));
      if (!parsed) continue;
      weight = *parsed;
    }
    int* slot = EqualsIgnoringCase(coding, "gzip") || EqualsIgnoringCase(coding, "x-gzip") ? &gzip
                : EqualsIgnoringCase(coding, "identity") ? &identity
                : coding == "*"                          ? &any
                                                         : nullptr;
    // Named twice, the more reluctant weight counts: "gzip;q=0" is never
    // overruled by a later "gzip".
    if (slot != nullptr) *slot = *slot < 0 ? weight : std::min(*slot, weight);
  }
  if (gzip < 0) gzip = std::max(any, 0);
  if (identity < 0) identity = any;
  return gzip > 0 && gzip >= identity;
}

std::string GzipEtag(std::string_view etag) {
  std::string tag(etag);
  if (tag.ends_with('"') && tag.size() >= 2)
    tag.insert(tag.size() - 1, "-gz");
  else
    tag += "-gz";
  return tag;
}

std::optional<std::string> UnescapeFormValue(std::string_view text) {
  return DecodePercents(text, /*plus_is_space=*/true);
}

}  // namespace heartpage::server
