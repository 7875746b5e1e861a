#include "server/storage/machine_id_hash.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <stdexcept>

namespace heartpage::server {

bool MachineIdHash::operator==(const MachineIdHash& other) const {
  // Every hash has the same length; only an empty one differs in it.
  return hex_.size() == other.hex_.size() &&
         CRYPTO_memcmp(hex_.data(), other.hex_.data(), hex_.size()) == 0;
}

MachineIdHasher::MachineIdHasher(std::string key) : key_(std::move(key)) {
  if (key_.size() != kKeyBytes) throw std::invalid_argument("machine identifier key of wrong size");
}

MachineIdHash MachineIdHasher::operator()(std::string_view machine_id) const {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (HMAC(EVP_sha256(), key_.data(), static_cast<int>(key_.size()),
           reinterpret_cast<const unsigned char*>(machine_id.data()), machine_id.size(), digest,
           &size) == nullptr)
    throw std::runtime_error("HMAC-SHA-256 failed");
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(size * 2);
  for (unsigned int i = 0; i < size; ++i) {
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 0x0F];
  }
  return MachineIdHash(std::move(hex));
}

std::string MachineIdHasher::NewKey() {
  std::string key(kKeyBytes, '\0');
  if (RAND_bytes(reinterpret_cast<unsigned char*>(key.data()), static_cast<int>(key.size())) != 1)
    throw std::runtime_error("no random bytes for a new key");
  return key;
}

}  // namespace heartpage::server
