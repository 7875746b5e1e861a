#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "server/storage/storage.h"

typedef struct evp_md_ctx_st EVP_MD_CTX;

namespace heartpage::server {

// A file being received, kept on disk rather than in memory: its bytes go to
// a file without a name (nothing of it outlives its last user, whatever
// happens), their SHA-256 is taken as they arrive, and the first bytes are
// kept for telling the type.
class MediaSpool {
 public:
  // Throws std::runtime_error when no file can be made in `dir`.
  // `on_close` runs when the spool goes.
  MediaSpool(const std::filesystem::path& dir, std::function<void()> on_close);
  ~MediaSpool();
  MediaSpool(const MediaSpool&) = delete;
  MediaSpool& operator=(const MediaSpool&) = delete;

  // False when the disk took less.
  bool Append(const char* data, std::size_t size);
  std::uint64_t size() const { return size_; }
  const std::string& head() const { return head_; }
  // The small hex SHA-256 of everything appended; once, at the end.
  std::string HexDigest();
  // Reads the file from its start.
  MediaReader Reader();

  // The descriptor of the file, for a caller that hands it on; -1 after.
  int Release();

  // The limit key of the client sending it, whose budgets it counts in.
  void SetSender(std::string key) { sender_ = std::move(key); }
  const std::string& sender() const { return sender_; }
  // From now on the file must arrive at `min_rate` bytes a second on
  // average, after a grace of kMediaPaceGrace for the connection to get
  // going.
  void KeepPace(std::uint64_t min_rate);
  // Whether the bytes so far are behind that pace as of `now`.
  bool BehindPace(std::chrono::steady_clock::time_point now) const;

  // Read from other threads, to choose the slowest file to give way to a
  // newcomer when every upload slot is taken: bytes a second since it began
  // (none before it has had the grace), and whether it was so chosen, after
  // which it ends unstored.
  std::optional<double> Pace(std::chrono::steady_clock::time_point now) const;
  bool GiveWay() { return !give_way_.exchange(true); }
  bool GivingWay() const { return give_way_.load(std::memory_order_relaxed); }

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
  std::atomic<std::uint64_t> arrived_{0};
  std::atomic<bool> give_way_{false};
  std::uint64_t read_at_ = 0;
  std::string head_;
  EVP_MD_CTX* sha_ = nullptr;
  std::function<void()> on_close_;
  std::string sender_;
  std::uint64_t min_rate_ = 0;
  std::chrono::steady_clock::time_point paced_from_{};
};

// Enough for the first bytes to come after the header, over TLS too.
inline constexpr std::chrono::seconds kMediaPaceGrace{2};

}  // namespace heartpage::server
