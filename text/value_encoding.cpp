#include "text/value_encoding.h"

#include <array>
#include <charconv>
#include <memory>

#include "text/gbk_tables.h"

namespace heartpage {
namespace {

// The encoded text of one character, each code followed by its "A".
struct CodeText {
  std::uint8_t size = 0;
  std::array<char, 15> text{};
};

// Splits a character's bytes into codes: a byte below 0x81 (or 0xFF) stands
// alone, any other byte starts a pair. GBK characters are one unit, GB18030
// four-byte characters two pairs.
CodeText ToCodeText(const detail::GbBytes& unit) {
  CodeText out;
  const auto append = [&](int code) {
    auto [end, ec] =
        std::to_chars(out.text.data() + out.size, out.text.data() + out.text.size(), code);
    out.size = static_cast<std::uint8_t>(end - out.text.data());
    out.text[out.size++] = 'A';
  };
  for (int i = 0; i < unit.size;) {
    const int lead = static_cast<unsigned char>(unit.bytes[i]);
    if (lead < 0x81 || lead == 0xFF || i + 1 == unit.size) {
      append(lead);
      i += 1;
    } else {
      append(lead * 256 + static_cast<unsigned char>(unit.bytes[i + 1]) - 65536);
      i += 2;
    }
  }
  return out;
}

}  // namespace

std::string EncodeValue(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 4);
  for (std::size_t pos = 0; pos < text.size();) {
    const auto [cp, length] = detail::NextCodePoint(text, pos);
    pos += length;
    const CodeText code =
        ToCodeText(cp < 0x10000 ? detail::BmpBytes(cp) : detail::SupplementaryBytes(cp));
    out.append(code.text.data(), code.size);
  }
  if (!out.empty()) out.pop_back();  // the last "A"
  return out;
}

std::string EncodeValue(long long number) {
  return EncodeValue(std::to_string(number));
}

std::optional<std::string> DecodeValue(std::string_view codes, std::string* error) {
  std::string bytes;
  if (codes.empty()) return bytes;
  bytes.reserve(codes.size() / 3);
  std::size_t index = 0;
  for (std::size_t pos = 0;; ++index) {
    const std::size_t end = std::min(codes.find('A', pos), codes.size());
    const std::string_view piece = codes.substr(pos, end - pos);
    const std::size_t digits = piece.size() - (piece.starts_with('-') ? 1 : 0);
    int value = 0;
    const char* first = piece.data() + (piece.size() - digits);
    const auto [stop, ec] = std::from_chars(first, piece.data() + piece.size(), value);
    const bool well_formed = digits >= 1 && digits <= 6 && *first != '-' && *first != '+' &&
                             ec == std::errc() && stop == piece.data() + piece.size();
    if (piece.starts_with('-')) value = -value;
    if (!well_formed || value < -32768 || value > 255) {
      if (error != nullptr)
        *error = "code " + std::to_string(index + 1) + " (\"" + std::string(piece) + "\") " +
                 (well_formed ? "is out of range" : "is not a number");
      return std::nullopt;
    }
    if (value >= 0) {
      bytes.push_back(static_cast<char>(value));
    } else {
      const int word = value + 65536;
      bytes.push_back(static_cast<char>(word >> 8));
      bytes.push_back(static_cast<char>(word & 0xFF));
    }
    if (end == codes.size()) return bytes;
    pos = end + 1;
  }
}

}  // namespace heartpage
