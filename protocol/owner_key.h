#pragma once

#include <optional>
#include <string>
#include <string_view>

// The owner key of the maker in the browser: 128 random bits the browser
// makes and keeps, sent as 32 hexadecimal digits where the program sends its
// machine identifier. A disk's serial is at most 20 ASCII characters (ATA and
// NVMe alike) and an installation's machine-id 32 bare hexadecimal digits;
// the prefix, Chinese and ending in a colon, is neither, so no key can ever
// own what a machine owns, nor the other way round.
namespace heartpage::wire {

inline constexpr std::string_view kOwnerKeyPrefix = "网页钥匙:";
inline constexpr std::size_t kOwnerKeyDigits = 32;

// The identifier that `key` stands for, its digits in small letters (either
// case is the same key); nothing when `key` is not 32 hexadecimal digits.
inline std::optional<std::string> OwnerKeyIdentifier(std::string_view key) {
  if (key.size() != kOwnerKeyDigits) return std::nullopt;
  std::string id(kOwnerKeyPrefix);
  for (const char c : key) {
    if (c >= '0' && c <= '9')
      id += c;
    else if (c >= 'a' && c <= 'f')
      id += c;
    else if (c >= 'A' && c <= 'F')
      id += static_cast<char>(c - 'A' + 'a');
    else
      return std::nullopt;
  }
  return id;
}

}  // namespace heartpage::wire
