#include "app/cli/arguments.h"

#include <charconv>

#include "pages/styles.h"

namespace heartpage::cli {
namespace {

int ParseStyle(const std::string& text) {
  int style = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), style);
  if (ec != std::errc() || end != text.data() + text.size() || style < 1 || style > kStyleCount)
    throw UsageError("unknown style \"" + text + "\"; styles are 1 to 8");
  return style;
}

}  // namespace

PageRequest ParsePageRequest(const std::vector<std::string>& args) {
  PageRequest request;
  std::vector<std::string> sets;
  bool checked = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    const auto value = [&]() -> const std::string& {
      if (i + 1 == args.size()) throw UsageError(option + " needs a value");
      return args[++i];
    };
    if (option == "--style") {
      request.style = ParseStyle(value());
    } else if (option == "--set") {
      sets.push_back(value());
    } else if (option == "--check") {
      checked = true;
    } else if (option == "-o") {
      request.output = value();
    } else if (option == "--name") {
      request.name = value();
    } else if (option == "--strict") {
      request.strict = true;
    } else {
      throw UsageError("unknown option \"" + option + "\"");
    }
  }
  if (request.style == 0) throw UsageError("--style N is required");

  const Style& style = GetStyle(request.style);
  request.fields = FieldMap::Defaults(style);
  if (checked && !style.has_check)
    throw UsageError("style " + std::to_string(style.number) + " has no check box");
  request.fields.checked = checked;
  for (const std::string& set : sets) {
    // Field names hold no "=", so the first one ends the name; the value may
    // contain any text, "=" included.
    const auto eq = set.find('=');
    if (eq == std::string::npos)
      throw UsageError("malformed --set \"" + set +
                       "\"; expected FIELD=VALUE, e.g. 'Text1(3)=你好'");
    const std::string field = set.substr(0, eq);
    if (FindField(style, field) == nullptr)
      throw UsageError("style " + std::to_string(style.number) + " has no field \"" + field + "\"");
    request.fields.values[field] = set.substr(eq + 1);
  }
  return request;
}

}  // namespace heartpage::cli
