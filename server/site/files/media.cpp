#include "server/site/files/media.h"

#include <boost/beast/http/verb.hpp>

#include <charconv>
#include <chrono>
#include <memory>
#include <vector>

#include "protocol/owner_key.h"
#include "protocol/wire.h"
#include "server/site/common/http_util.h"
#include "server/site/common/json.h"
#include "server/site/common/responses.h"
#include "server/site/common/site_pages.h"
#include "server/site/files/file_range.h"
#include "server/site/policy/endpoint_checks.h"
#include "server/site/policy/origin_check.h"
#include "text/gbk.h"
#include "text/value_encoding.h"

namespace heartpage::server {

namespace beast = boost::beast;
namespace http = beast::http;

namespace {

// Nothing a sender is told of its file is for a cache to keep.
StringResponse Unkept(const Request& request, unsigned status, std::string body) {
  return TextResponse(request, static_cast<http::status>(status), std::move(body), kPlainText,
                      "no-store");
}

// The identifier as text: the header holds it in the value encoding, as the
// endpoint's ID field does, and it passes the endpoint's own check.
std::optional<std::string> MachineIdOf(std::string_view header) {
  const std::optional<std::string> bytes = DecodeValue(header);
  if (!bytes) return std::nullopt;
  return ReadMachineId(*bytes).text;
}

bool ThroughMaker(const http::request_header<>& header) {
  const std::string_view target = header.target();
  return target.substr(0, target.find('?')) == wire::kMakerMediaPath;
}

// The maker's owner key stands for her as the program's identifier does,
// spelled as the maker's other operations spell it.
std::optional<std::string> OwnerKeyIdOf(std::string_view header) {
  const std::optional<std::string> id = wire::OwnerKeyIdentifier(header);
  if (!id) return std::nullopt;
  return ReadMachineId(ToGbk(*id)).text;
}

// Whom a file is sent for, whichever door it came through.
std::optional<std::string> UploaderOf(const http::request_header<>& header) {
  if (ThroughMaker(header)) return OwnerKeyIdOf(header[wire::kOwnerKeyHeader]);
  return MachineIdOf(header[wire::kMachineIdHeader]);
}

// The maker reads JSON: the same status, the address or the one line.
StringResponse AsMakerAnswer(StringResponse answer) {
  std::string line = answer.body();
  while (!line.empty() && line.back() == '\n') line.pop_back();
  answer.body() = answer.result_int() == wire::status::kOk
                      ? "{\"address\":" + JsonString(line) + "}\n"
                      : "{\"error\":" + JsonString(line) + "}\n";
  answer.set(http::field::content_type, "application/json; charset=utf-8");
  answer.prepare_payload();
  return answer;
}

StringResponse StoreUpload(const Request& request, MediaSpool& spool, const Site& site,
                           Audit* audit) {
  const std::optional<std::string> machine_id = UploaderOf(request);
  if (!machine_id)
    return Unkept(request, wire::status::kMalformed,
                  ThroughMaker(request) ? "malformed X-Owner-Key\n" : "malformed X-Machine-Id\n");
  const std::optional<MediaType> type = DetectMediaType(spool.head());
  if (!type)
    return Unkept(request, wire::status::kWrongType,
                  "not a picture, music or video file of a known type\n");
  if (spool.size() > site.media.Of(type->kind))
    return Unkept(request, wire::status::kTooLarge, "file too large for its kind\n");
  MediaFacts facts{spool.HexDigest() + "." + std::string(type->extension),
                   std::string(type->content_type), spool.size()};
  if (audit != nullptr) audit->name = facts.name;
  if (site.storage.admin.OwnerBlocked(site.storage.claims.HashMachineId(*machine_id)))
    return Unkept(request, wire::status::kNotYours, std::string(kBlockedRefusal) + "\n");
  if (site.storage.admin.MediaRemoved(facts.name.substr(0, 64)))
    return Unkept(request, wire::status::kWithdrawn,
                  "this file was removed by the site's operator\n");
  const AddressBudget sender = SenderBudget(site, spool.sender());
  switch (site.storage.media.StoreMedia(site.storage.claims.HashMachineId(*machine_id), facts,
                                        spool.Reader(), site.media.per_machine, sender)) {
    case MediaStoreResult::kStored:
      return Unkept(request, wire::status::kOk,
                    PublicOrigin(site.public_host) + std::string(wire::kMediaPrefix) + facts.name);
    case MediaStoreResult::kOverOwnerQuota:
      return Unkept(request, wire::status::kTooLarge,
                    "this machine's files take all the room it has\n");
    case MediaStoreResult::kOverQuota:
      return Unkept(request, wire::status::kOutOfSpace, "the server is out of room for files\n");
    // Nothing changes for the address before the day does.
    case MediaStoreResult::kOverAddressDaily:
      return TryLater(request, http::status::too_many_requests,
                      std::chrono::seconds(SecondsToNextUsageDay(std::time(nullptr))),
                      kAddressDailyRefusal);
    case MediaStoreResult::kOverAddressShare:
      return TryLater(request, http::status::too_many_requests,
                      std::chrono::seconds(SecondsToNextUsageDay(std::time(nullptr))),
                      "files sent from this address take all the room one address may have");
  }
  return Unkept(request, 500, "unexpected store result\n");
}

}  // namespace

bool IsMediaUpload(const http::request_header<>& header) {
  const std::string_view target = header.target();
  return header.method() == http::verb::post &&
         (target.substr(0, target.find('?')) == wire::kMediaPath || ThroughMaker(header));
}

std::optional<MediaRefusal> CheckMediaHeader(const http::request_header<>& header,
                                             const MediaLimits& limits,
                                             std::string_view public_host) {
  if (ThroughMaker(header)) {
    // Another site's page could otherwise spend her quota under her key.
    if (!PostedByThisSite(header, public_host))
      return MediaRefusal{wire::status::kNotYours, "taken only from the site's own maker"};
    if (!OwnerKeyIdOf(header[wire::kOwnerKeyHeader]))
      return MediaRefusal{wire::status::kMalformed, "X-Owner-Key must be 32 hexadecimal digits"};
  } else {
    if (SentByWebPage(header))
      return MediaRefusal{wire::status::kNotYours, "requests from web pages are refused"};
    const std::string_view id = header[wire::kMachineIdHeader];
    if (id.empty()) return MediaRefusal{wire::status::kMalformed, "missing header X-Machine-Id"};
    if (!MachineIdOf(id)) return MediaRefusal{wire::status::kMalformed, "malformed X-Machine-Id"};
  }
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
  StringResponse answer = [&] {
    try {
      return StoreUpload(request, spool, site, audit);
    } catch (const std::exception& error) {
      return StorageFailure(request, error, audit);
    }
  }();
  if (ThroughMaker(request)) return AsMakerAnswer(std::move(answer));
  return answer;
}

namespace {

// A range gets at most this much, and the player asks on for the rest: a
// connection reads one from the database while it sends another.
constexpr std::uint64_t kMaxPart = 1024 * 1024;

// A stored file as a reader takes it: one of its chunks at a time, read
// when the connection is ready to send it. Nothing of the file is copied
// for its readers, so that no number of slow readers, of however many
// files, fills any room that another's photo needs; what the pieces on
// their way take of memory is counted by the connections.
class KeptMedia final : public PieceSource {
 public:
  KeptMedia(MediaStore& store, std::string_view name) : store_(store), name_(name) {}

  std::uint64_t PieceEnd(std::uint64_t offset) const override {
    return (offset / kMediaChunk + 1) * kMediaChunk;
  }

  std::string Read(std::uint64_t from, std::uint64_t to) const override {
    std::string bytes;
    bytes.reserve(to - from);
    store_.ReadMedia(name_, from, to - from, [&](std::string_view chunk) { bytes += chunk; });
    if (bytes.size() != to - from) throw StorageError("stored file " + name_ + " is short");
    return bytes;
  }

 private:
  MediaStore& store_;
  const std::string name_;
};

// A stored file: its fields, and its bytes.
class StoredMedia final : public FileHolder {
 public:
  StoredMedia(std::string_view name, const MediaFacts& facts, std::string_view etag,
              const Site& site)
      : name_(name), facts_(facts), etag_(etag), site_(site) {}

  void SetFields(http::fields& fields) const override {
    fields.set(http::field::server, kServerName);
    fields.set(http::field::date, CurrentHttpDate());
    fields.set(http::field::etag, etag_);
    fields.set(http::field::cache_control, "public, max-age=31536000, immutable");
    fields.set(http::field::accept_ranges, "bytes");
    fields.set(http::field::content_type, facts_.content_type);
    fields.set("X-Content-Type-Options", "nosniff");
    fields.set("Content-Security-Policy", kMediaSecurityPolicy);
  }

  std::optional<FileBytes> Read(std::optional<ByteRange> part) const override {
    if (facts_.size == 0) return FileBytes(std::string());
    if (!part) part = ByteRange{0, facts_.size - 1};
    return FileBytes(PieceBody::value_type{std::make_shared<KeptMedia>(site_.storage.media, name_),
                                           part->first, part->last - part->first + 1});
  }

 private:
  std::string_view name_;
  const MediaFacts& facts_;
  std::string_view etag_;
  const Site& site_;
};

}  // namespace

Response ServeMedia(const Request& request, std::string_view name, const Site& site) {
  const std::optional<MediaType> type = MediaTypeOfName(name);
  const std::optional<MediaFacts> facts =
      type ? site.storage.media.FindMedia(name) : std::optional<MediaFacts>();
  if (!facts) return Unkept(request, wire::status::kUnknown, "not found\n");
  // The name is the hash of the bytes: it validates them for ever.
  const std::string etag = "\"" + std::string(name.substr(0, 64)) + "\"";
  RangedFile answer;
  answer.size = facts->size;
  answer.etag = etag;
  answer.head_ranges = true;
  answer.max_part = kMaxPart;
  return SendRangedFile(request, answer, StoredMedia(name, *facts, etag, site));
}

std::string SweepUnusedMedia(MediaStore& media, const MediaLimits& limits, std::time_t now) {
  const std::int64_t before =
      static_cast<std::int64_t>(now) - std::int64_t{limits.keep_unused_days} * 24 * 3600;
  const std::vector<std::string> removed = media.SweepMedia(before);
  std::string note = "media sweep: " + std::to_string(removed.size()) +
                     " file(s) no page used for " + std::to_string(limits.keep_unused_days) +
                     " days removed";
  for (std::size_t i = 0; i < removed.size() && i < 20; ++i)
    note += (i == 0 ? ": " : ", ") + removed[i];
  return note;
}

}  // namespace heartpage::server
