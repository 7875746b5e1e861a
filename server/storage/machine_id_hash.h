#pragma once

#include <string>
#include <string_view>

// Machine identifiers are what ties a name to its machine, so the store keeps
// none of them: only a keyed hash, which without the key cannot be tested
// against guessed identifiers. Every store hashes the same way; where the key
// lives is the store's business (a file beside SQLite's database, so that a
// copy of the database alone gives nothing away).
namespace heartpage::server {

// HMAC-SHA-256 of an identifier's UTF-8 text, in small hexadecimal digits.
class MachineIdHash {
 public:
  MachineIdHash() = default;
  explicit MachineIdHash(std::string hex) : hex_(std::move(hex)) {}
  const std::string& hex() const { return hex_; }
  // In constant time: an owner's key is compared by its hash, and how long
  // a comparison takes must not tell a guesser how much of it was right.
  bool operator==(const MachineIdHash& other) const;

 private:
  std::string hex_;
};

class MachineIdHasher {
 public:
  static constexpr std::size_t kKeyBytes = 32;

  // Throws std::invalid_argument unless `key` is kKeyBytes bytes.
  explicit MachineIdHasher(std::string key);

  MachineIdHash operator()(std::string_view machine_id) const;

  // kKeyBytes from the system's random source.
  static std::string NewKey();

 private:
  std::string key_;
};

}  // namespace heartpage::server
