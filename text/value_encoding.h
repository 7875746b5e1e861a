#pragma once

#include <optional>
#include <string>
#include <string_view>

// The decimal encoding of posted form values: each character is written as the
// signed 16-bit code of its bytes in code page 936 and the codes are joined by
// "A", so a value can never contain "&", "=", a space or a non-ASCII byte.
namespace heartpage {

// "abc" gives "97A98A99", "中" gives "-10544". A character outside code page
// 936 takes its GB18030 four bytes, written as two negative codes.
std::string EncodeValue(std::string_view text);
std::string EncodeValue(long long number);

// The inverse as far as bytes: codes joined by "A" back to the byte string
// they stand for. Strict: every piece must be an optional minus sign and 1 to
// 6 digits with a value in -32768 ... 255; otherwise the result is empty and
// `error` (when given) says which piece is wrong.
std::optional<std::string> DecodeValue(std::string_view codes, std::string* error = nullptr);

}  // namespace heartpage
