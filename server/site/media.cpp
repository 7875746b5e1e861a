#include "server/site/media.h"

#include <unistd.h>

#include <boost/beast/core/file.hpp>
#include <boost/beast/http/verb.hpp>

#include <charconv>
#include <cstdio>

#include "protocol/wire.h"
#include "server/site/http_util.h"
#include "server/site/origin_check.h"
#include "text/gbk.h"
#include "text/value_encoding.h"

namespace heartpage::server {

namespace beast = boost::beast;
namespace http = beast::http;

namespace {

constexpr std::size_t kMaxMachineIdBytes = 200;
constexpr std::chrono::seconds kBusyRetry{2};

StringResponse Text(const Request& request, unsigned status, std::string body) {
  StringResponse response(static_cast<http::status>(status), request.version());
  response.set(http::field::server, "heartpage-server");
  response.set(http::field::date, FormatHttpDate(std::time(nullptr)));
  response.set(http::field::content_type, "text/plain; charset=utf-8");
  response.set(http::field::cache_control, "no-store");
  response.set("X-Content-Type-Options", "nosniff");
  response.body() = std::move(body);
  response.keep_alive(request.keep_alive());
  response.prepare_payload();
  return response;
}

std::string Origin(std::string_view public_host) {
  return public_host.find("://") != std::string_view::npos ? std::string(public_host)
                                                           : "http://" + std::string(public_host);
}

// The identifier as text: the header holds it in the value encoding, as the
// endpoint's ID field does.
std::optional<std::string> MachineIdOf(std::string_view header) {
  if (header.empty()) return std::nullopt;
  const std::optional<std::string> bytes = DecodeValue(header);
  if (!bytes || bytes->empty() || bytes->size() > kMaxMachineIdBytes) return std::nullopt;
  std::string text = FromGbk(*bytes);
  if (ToGbk(text) != *bytes) return std::nullopt;
  return text;
}

Response StoreUpload(const Request& request, MediaSpool& spool, const Site& site, Audit* audit) {
  const std::optional<std::string> machine_id = MachineIdOf(request[wire::kMachineIdHeader]);
  if (!machine_id) return Text(request, wire::status::kMalformed, "malformed X-Machine-Id\n");
  const std::optional<MediaType> type = DetectMediaType(spool.head());
  if (!type)
    return Text(request, wire::status::kWrongType,
                "not a picture, music or video file of a known type\n");
  if (spool.size() > site.media.Of(type->kind))
    return Text(request, wire::status::kTooLarge, "file too large for its kind\n");
  MediaFacts facts{spool.HexDigest() + "." + std::string(type->extension),
                   std::string(type->content_type), spool.size()};
  if (audit != nullptr) audit->name = facts.name;
  switch (site.storage.StoreMedia(site.storage.HashMachineId(*machine_id), facts, spool.Reader(),
                                  site.media.per_machine)) {
    case MediaStoreResult::kStored:
      return Text(request, wire::status::kOk,
                  Origin(site.public_host) + std::string(wire::kMediaPrefix) + facts.name);
    case MediaStoreResult::kOverOwnerQuota:
      return Text(request, wire::status::kTooLarge,
                  "this machine's files take all the room it has\n");
    case MediaStoreResult::kOverQuota:
      return Text(request, wire::status::kOutOfSpace, "the server is out of room for files\n");
  }
  return Text(request, 500, "unexpected store result\n");
}

}  // namespace

bool IsMediaUpload(const http::request_header<>& header) {
  const std::string_view target = header.target();
  return header.method() == http::verb::post &&
         target.substr(0, target.find('?')) == wire::kMediaPath;
}

std::optional<MediaRefusal> CheckMediaHeader(const http::request_header<>& header,
                                             const MediaLimits& limits) {
  if (SentByWebPage(header))
    return MediaRefusal{wire::status::kNotYours, "requests from web pages are refused"};
  const std::string_view id = header[wire::kMachineIdHeader];
  if (id.empty()) return MediaRefusal{wire::status::kMalformed, "missing header X-Machine-Id"};
  if (!MachineIdOf(id)) return MediaRefusal{wire::status::kMalformed, "malformed X-Machine-Id"};
  if (const std::string_view length = header[http::field::content_length]; !length.empty()) {
    std::uint64_t size = 0;
    const auto [end, ec] = std::from_chars(length.data(), length.data() + length.size(), size);
    if (ec == std::errc::result_out_of_range || (ec == std::errc() && size > limits.Largest()))
      return MediaRefusal{wire::status::kTooLarge, "file too large"};
  }
  return std::nullopt;
}

Response HandleMediaUpload(const Request& request, MediaSpool& spool, const Site& site,
                           Audit* audit) {
  if (audit != nullptr) audit->operation = "media upload";
  try {
    return StoreUpload(request, spool, site, audit);
  } catch (const StorageBusy& error) {
    std::fprintf(stderr, "heartpage-server: storage busy: %s\n", error.what());
    return TryLater(request, http::status::service_unavailable, kBusyRetry, "server busy");
  } catch (const std::exception& error) {
    std::fprintf(stderr, "heartpage-server: storage error: %s\n", error.what());
    return Text(request, 500, "storage error\n");
  }
}

Response ServeMedia(const Request& request, std::string_view name, const Site& site) {
  const std::optional<MediaType> type = MediaTypeOfName(name);
  const std::optional<MediaFacts> facts =
      type ? site.storage.FindMedia(name) : std::optional<MediaFacts>();
  if (!facts) return Text(request, wire::status::kUnknown, "not found\n");
  // The name is the hash of the bytes: it validates them for ever.
  const std::string etag = "\"" + std::string(name.substr(0, 64)) + "\"";
  const std::uint64_t size = facts->size;
  const auto with_headers = [&](auto& response) {
    response.set(http::field::server, "heartpage-server");
    response.set(http::field::date, FormatHttpDate(std::time(nullptr)));
    response.set(http::field::etag, etag);
    response.set(http::field::cache_control, "public, max-age=31536000, immutable");
    response.set(http::field::accept_ranges, "bytes");
    response.set(http::field::content_type, facts->content_type);
    response.set("X-Content-Type-Options", "nosniff");
    response.set("Content-Security-Policy", kPageSecurityPolicy);
    response.keep_alive(request.keep_alive());
  };
  if (EtagMatches(request[http::field::if_none_match], etag)) {
    StringResponse response(http::status::not_modified, request.version());
    with_headers(response);
    return response;
  }
  const std::string_view if_range = request[http::field::if_range];
  const RangeRequest range = if_range.empty() || if_range == etag
                                 ? ParseRange(request[http::field::range], size)
                                 : RangeRequest{};
  if (range.kind == RangeRequest::Kind::kUnsatisfiable) {
    StringResponse response(http::status::range_not_satisfiable, request.version());
    with_headers(response);
    response.set(http::field::content_range, "bytes */" + std::to_string(size));
    response.prepare_payload();
    return response;
  }
  const bool part = range.kind == RangeRequest::Kind::kPart;
  const std::uint64_t first = part ? range.range.first : 0;
  const std::uint64_t length = part ? range.range.last - first + 1 : size;
  const auto status = part ? http::status::partial_content : http::status::ok;
  if (request.method() == http::verb::head) {
    StringResponse response(status, request.version());
    with_headers(response);
    if (part)
      response.set(http::field::content_range, "bytes " + std::to_string(first) + "-" +
                                                   std::to_string(first + length - 1) + "/" +
                                                   std::to_string(size));
    response.content_length(length);
    return response;
  }
  // The bytes go through a file of their own, a chunk at a time, so that a
  // large file never sits in memory; the connection sends from it.
  MediaSpool copy(site.media.spool_dir, {});
  site.storage.ReadMedia(name, first, length, [&](std::string_view bytes) {
    if (!copy.Append(bytes.data(), bytes.size())) throw StorageError("no room to send a file");
  });
  if (copy.size() != length) throw StorageError("stored file " + std::string(name) + " is short");
  const int fd = copy.Release();
  lseek(fd, 0, SEEK_SET);
  beast::file file;
  file.native_handle(fd);
  http::file_body::value_type body;
  beast::error_code ec;
  body.reset(std::move(file), ec);
  if (ec) throw StorageError("cannot send a file: " + ec.message());
  FileResponse response(std::piecewise_construct, std::make_tuple(std::move(body)),
                        std::make_tuple(status, request.version()));
  with_headers(response);
  if (part)
    response.set(http::field::content_range, "bytes " + std::to_string(first) + "-" +
                                                 std::to_string(first + length - 1) + "/" +
                                                 std::to_string(size));
  response.prepare_payload();
  return response;
}

std::string SweepUnusedMedia(Storage& storage, const MediaLimits& limits, std::time_t now) {
  const std::int64_t before =
      static_cast<std::int64_t>(now) - std::int64_t{limits.keep_unused_days} * 24 * 3600;
  const std::vector<std::string> removed = storage.SweepMedia(before);
  std::string note = "media sweep: " + std::to_string(removed.size()) +
                     " file(s) no page used for " + std::to_string(limits.keep_unused_days) +
                     " days removed";
  for (std::size_t i = 0; i < removed.size() && i < 20; ++i)
    note += (i == 0 ? ": " : ", ") + removed[i];
  return note;
}

}  // namespace heartpage::server
