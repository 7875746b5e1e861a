#include "server/site/media.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/beast/core/file.hpp>
#include <boost/beast/http/verb.hpp>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

#include "protocol/wire.h"
#include "server/site/endpoint_checks.h"
#include "server/site/file_range.h"
#include "server/site/http_util.h"
#include "server/site/origin_check.h"
#include "server/site/responses.h"
#include "server/site/site_pages.h"
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

Response StoreUpload(const Request& request, MediaSpool& spool, const Site& site, Audit* audit) {
  const std::optional<std::string> machine_id = MachineIdOf(request[wire::kMachineIdHeader]);
  if (!machine_id) return Unkept(request, wire::status::kMalformed, "malformed X-Machine-Id\n");
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
  } catch (const std::exception& error) {
    return StorageFailure(request, error, audit);
  }
}

namespace {

namespace fs = std::filesystem;

// A range is answered from the stored chunks straight into memory, so a
// longer one gets its first four chunks and the player asks on for the rest:
// a client that never reads holds no more than this.
constexpr std::uint64_t kMaxPart = 1024 * 1024;

// Whole files go out from one copy per file, named by its hash and so never
// stale, shared by every connection that asks for it: a client that never
// reads holds a descriptor, not a copy. Each connection sending a copy holds
// a shared lock on it, so that the copies used longest ago give way past a
// few of the largest files while none that is being sent does: the folder
// lists every byte the copies take, and an evicted copy never lives on with
// its readers. With every copy in use, a file that has none is refused for
// a moment; readers that do not keep up are cut off soon.
fs::path CopiesDir(const MediaLimits& limits) {
  std::error_code ec;
  const fs::path base = limits.spool_dir.empty() ? fs::temp_directory_path(ec) : limits.spool_dir;
  return base / "heartpage-media-copies";
}

// Unlinks the copy at `path` unless someone is sending it; false when in use.
bool RemoveUnused(const fs::path& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;
  const bool unused = flock(fd, LOCK_EX | LOCK_NB) == 0;
  if (unused) unlink(path.c_str());
  close(fd);
  return unused;
}

// Whether `size` more bytes fit within `room`, once the copies not in use
// have given way, oldest first.
bool MakeRoom(const fs::path& dir, std::uint64_t size, std::uint64_t room) {
  std::vector<std::pair<fs::file_time_type, fs::directory_entry>> copies;
  std::uint64_t total = 0;
  std::error_code ec;
  const auto stale = fs::file_time_type::clock::now() - std::chrono::hours(1);
  for (const fs::directory_entry& entry : fs::directory_iterator(dir, ec)) {
    if (!entry.is_regular_file(ec)) continue;
    const fs::file_time_type used = entry.last_write_time(ec);
    // A copy still being made starts with a dot; one left by a server that
    // ended half-way is long out of use.
    if (entry.path().filename().string().starts_with('.')) {
      if (used < stale)
        fs::remove(entry.path(), ec);
      else
        total += entry.file_size(ec);
      continue;
    }
    total += entry.file_size(ec);
    copies.emplace_back(used, entry);
  }
  std::sort(copies.begin(), copies.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [used, entry] : copies) {
    if (total + size <= room) break;
    const std::uint64_t gone = entry.file_size(ec);
    if (RemoveUnused(entry.path())) total -= std::min(total, gone);
  }
  return total + size <= room;
}

// The copy at `path`, locked for sending; nothing when there is none whole,
// or it has just been removed.
std::optional<http::file_body::value_type> OpenCopy(const fs::path& path, std::uint64_t size) {
  http::file_body::value_type body;
  beast::error_code ec;
  body.open(path.c_str(), beast::file_mode::scan, ec);
  if (ec || body.size() != size) return std::nullopt;
  const int fd = static_cast<int>(body.file().native_handle());
  struct stat facts {};
  if (flock(fd, LOCK_SH | LOCK_NB) != 0 || fstat(fd, &facts) != 0 || facts.st_nlink == 0)
    return std::nullopt;
  return body;
}

http::file_body::value_type SharedCopy(std::string_view name, const MediaFacts& facts,
                                       const Site& site) {
  const fs::path dir = CopiesDir(site.media);
  const fs::path path = dir / std::string(name);
  std::error_code fs_ec;
  if (std::optional<http::file_body::value_type> body = OpenCopy(path, facts.size)) {
    fs::last_write_time(path, fs::file_time_type::clock::now(), fs_ec);
    return std::move(*body);
  }
  // One connection makes the copy while the others asking for the same file
  // wait for it, rather than each making its own.
  static std::mutex making_mutex;
  static std::map<std::string, std::weak_ptr<std::mutex>, std::less<>> making;
  std::shared_ptr<std::mutex> mine;
  {
    const std::lock_guard lock(making_mutex);
    std::weak_ptr<std::mutex>& slot = making[std::string(name)];
    mine = slot.lock();
    if (!mine) slot = mine = std::make_shared<std::mutex>();
    std::erase_if(making, [](const auto& entry) { return entry.second.expired(); });
  }
  const std::lock_guard made_once(*mine);
  if (std::optional<http::file_body::value_type> body = OpenCopy(path, facts.size))
    return std::move(*body);
  fs::create_directories(dir, fs_ec);
  static std::atomic<std::uint64_t> made{0};
  const fs::path part =
      dir / ("." + std::string(name) + "." + std::to_string(std::random_device{}()) + "." +
             std::to_string(++made));
  try {
    beast::file out;
    beast::error_code ec;
    {
      // The copy's blocks are taken before the next file's room is
      // reckoned: two files copied at once never count on the same room.
      static std::mutex room_mutex;
      const std::lock_guard lock(room_mutex);
      if (!MakeRoom(dir, facts.size, 4 * site.media.Largest()))
        throw StorageBusy("every copy of the files being sent is in use");
      out.open(part.c_str(), beast::file_mode::write_new, ec);
      if (ec) throw StorageError("cannot send a file: " + ec.message());
      if (posix_fallocate(static_cast<int>(out.native_handle()), 0,
                          static_cast<off_t>(facts.size)) != 0)
        throw StorageError("no room to send a file");
    }
    std::uint64_t written = 0;
    site.storage.media.ReadMedia(name, 0, facts.size, [&](std::string_view bytes) {
      out.write(bytes.data(), bytes.size(), ec);
      if (ec) throw StorageError("no room to send a file");
      written += bytes.size();
    });
    if (written != facts.size) throw StorageError("stored file " + std::string(name) + " is short");
    out.close(ec);
    if (ec) throw StorageError("no room to send a file");
    // Locked before it is named, so that it is never taken for unused.
    std::optional<http::file_body::value_type> body = OpenCopy(part, facts.size);
    if (!body) throw StorageError("cannot send a file " + std::string(name));
    fs::rename(part, path);
    return std::move(*body);
  } catch (...) {
    fs::remove(part, fs_ec);
    throw;
  }
}

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
    // A file no larger than a range answer goes from memory as a range
    // does: it takes none of the copies' room, which slow readers of large
    // files may hold.
    if (!part && facts_.size > kMaxPart) return FileBytes(SharedCopy(name_, facts_, site_));
    if (!part && facts_.size == 0) return FileBytes(std::string());
    if (!part) part = ByteRange{0, facts_.size - 1};
    const std::uint64_t length = part->last - part->first + 1;
    std::string bytes;
    bytes.reserve(length);
    site_.storage.media.ReadMedia(name_, part->first, length,
                                  [&](std::string_view chunk) { bytes += chunk; });
    if (bytes.size() != length)
      throw StorageError("stored file " + std::string(name_) + " is short");
    return FileBytes(std::move(bytes));
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
