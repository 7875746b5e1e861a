#include "server/storage/page_code.h"
#include "protocol/page_settings.h"
#include "text/ascii.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

namespace heartpage::server {
namespace {

// About 16 MiB and some 50 ms on a server's core: slow for a guesser with a
// copy of the database, bearable for a reader who types it once.
constexpr std::uint64_t kCost = 1 << 14;
constexpr std::uint64_t kBlockSize = 8;
constexpr std::uint64_t kParallel = 1;
constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kHashBytes = 32;
constexpr std::uint64_t kMaxMemory = 64 * 1024 * 1024;

std::string Hex(const std::vector<unsigned char>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const unsigned char byte : bytes) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
  }
  return hex;
}

std::optional<std::vector<unsigned char>> FromHex(std::string_view hex) {
  if (hex.size() % 2 != 0 || hex.empty()) return std::nullopt;
  const auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  std::vector<unsigned char> bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = digit(hex[i]);
    const int low = digit(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<unsigned char>(high * 16 + low));
  }
  return bytes;
}

std::vector<unsigned char> Scrypt(std::string_view code, const std::vector<unsigned char>& salt,
                                  std::uint64_t cost, std::uint64_t block, std::uint64_t parallel,
                                  std::size_t size) {
  std::vector<unsigned char> out(size);
  if (EVP_PBE_scrypt(code.data(), code.size(), salt.data(), salt.size(), cost, block, parallel,
                     kMaxMemory, out.data(), out.size()) != 1)
    throw std::runtime_error("scrypt failed");
  return out;
}

}  // namespace

std::string HashPageCode(std::string_view code) {
  std::vector<unsigned char> salt(kSaltBytes);
  if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1)
    throw std::runtime_error("no random bytes for a salt");
  const std::vector<unsigned char> hash =
      Scrypt(wire::CanonicalCode(code), salt, kCost, kBlockSize, kParallel, kHashBytes);
  return "scrypt$" + std::to_string(kCost) + "$" + std::to_string(kBlockSize) + "$" +
         std::to_string(kParallel) + "$" + Hex(salt) + "$" + Hex(hash);
}

bool PageCodeMatches(std::string_view code, std::string_view hash) {
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t end = hash.find('$', start);
    parts.push_back(hash.substr(start, end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  if (parts.size() != 6 || parts[0] != "scrypt") return false;
  const auto cost = DecimalNumber(parts[1], 9);
  const auto block = DecimalNumber(parts[2], 9);
  const auto parallel = DecimalNumber(parts[3], 9);
  const auto salt = FromHex(parts[4]);
  const auto expected = FromHex(parts[5]);
  // What this server writes, within what it is willing to spend.
  if (!cost || !block || !parallel || !salt || !expected || *cost < 2 || *cost > (1 << 20) ||
      *block == 0 || *block > 32 || *parallel == 0 || *parallel > 4 || expected->size() > 64 ||
      128 * *cost * *block > kMaxMemory)
    return false;
  const std::vector<unsigned char> got =
      Scrypt(wire::CanonicalCode(code), *salt, *cost, *block, *parallel, expected->size());
  return CRYPTO_memcmp(got.data(), expected->data(), got.size()) == 0;
}

}  // namespace heartpage::server
