#pragma once

#include <map>
#include <string>
#include <string_view>
#include <variant>

namespace heartpage::server {

// The fields of a posted form, each value already decoded to its bytes.
using FormFields = std::map<std::string, std::string, std::less<>>;

struct FormError {
  std::string message;
};

// Splits "name=codes&name=codes" and decodes every value strictly. Refuses a
// piece without "=", an empty or repeated field name and any value that is not
// well-formed decimal codes, naming the culprit in the message.
std::variant<FormFields, FormError> ParseForm(std::string_view body);

}  // namespace heartpage::server
