#include "server/site/files/media_spool.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "protocol/media_kind.h"

namespace heartpage::server {

MediaSpool::MediaSpool(const std::filesystem::path& dir, std::function<void()> on_close)
    : on_close_(std::move(on_close)) {
  const std::filesystem::path folder = dir.empty() ? std::filesystem::temp_directory_path() : dir;
  fd_ = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    const std::string why = std::strerror(errno);
    if (on_close_) on_close_();
    throw std::runtime_error("cannot make a file in " + folder.string() + ": " + why);
  }
  sha_ = EVP_MD_CTX_new();
  if (sha_ == nullptr || EVP_DigestInit_ex(sha_, EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(sha_);
    close(fd_);
    if (on_close_) on_close_();
    throw std::runtime_error("SHA-256 unavailable");
  }
}

MediaSpool::~MediaSpool() {
  EVP_MD_CTX_free(sha_);
  if (fd_ >= 0) close(fd_);
  if (on_close_) on_close_();
}

bool MediaSpool::Append(const char* data, std::size_t size) {
  if (head_.size() < kMediaSniffBytes)
    head_.append(data, std::min(size, kMediaSniffBytes - head_.size()));
  EVP_DigestUpdate(sha_, data, size);
  for (std::size_t done = 0; done < size;) {
    const ssize_t wrote = write(fd_, data + done, size - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<std::size_t>(wrote);
  }
  size_ += size;
  arrived_.store(size_, std::memory_order_relaxed);
  return true;
}

std::string MediaSpool::HexDigest() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  EVP_DigestFinal_ex(sha_, digest, &length);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

MediaReader MediaSpool::Reader() {
  read_at_ = 0;
  return [this](char* buffer, std::size_t size) -> std::size_t {
    for (;;) {
      const ssize_t got = pread(fd_, buffer, size, static_cast<off_t>(read_at_));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) throw StorageError(std::string("reading a received file: ") + strerror(errno));
      read_at_ += static_cast<std::uint64_t>(got);
      return static_cast<std::size_t>(got);
    }
  };
}

void MediaSpool::KeepPace(std::uint64_t min_rate) {
  min_rate_ = min_rate;
  paced_from_ = std::chrono::steady_clock::now() + kMediaPaceGrace;
}

bool MediaSpool::BehindPace(std::chrono::steady_clock::time_point now) const {
  if (min_rate_ == 0 || now <= paced_from_) return false;
  const auto paced = std::chrono::duration_cast<std::chrono::milliseconds>(now - paced_from_);
  return static_cast<double>(size_) <
         static_cast<double>(min_rate_) * static_cast<double>(paced.count()) / 1000;
}

std::optional<double> MediaSpool::Pace(std::chrono::steady_clock::time_point now) const {
  if (now <= paced_from_) return std::nullopt;
  const auto since =
      std::chrono::duration_cast<std::chrono::milliseconds>(now - (paced_from_ - kMediaPaceGrace));
  return static_cast<double>(arrived_.load(std::memory_order_relaxed)) * 1000 /
         static_cast<double>(since.count());
}

int MediaSpool::Release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

}  // namespace heartpage::server
