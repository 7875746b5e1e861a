#include "server/site/common/form.h"

#include <optional>

#include "text/value_encoding.h"

namespace heartpage::server {

std::variant<FormFields, FormError> ParseForm(std::string_view body) {
  FormFields fields;
  if (body.empty()) return FormError{"empty form"};
  for (std::size_t pos = 0;;) {
    const std::size_t end = std::min(body.find('&', pos), body.size());
    const std::string_view piece = body.substr(pos, end - pos);
    const std::size_t equals = piece.find('=');
    if (equals == std::string_view::npos || equals == 0)
      return FormError{"malformed form field \"" + std::string(piece.substr(0, 40)) + "\""};
    const std::string name(piece.substr(0, equals));
    std::string why;
    std::optional<std::string> value = DecodeValue(piece.substr(equals + 1), &why);
    if (!value) return FormError{"field \"" + name + "\": " + why};
    if (!fields.emplace(name, std::move(*value)).second)
      return FormError{"field \"" + name + "\" given twice"};
    if (end == body.size()) return fields;
    pos = end + 1;
  }
}

}  // namespace heartpage::server
