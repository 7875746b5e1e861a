#include "server/site/common/statement.h"

#include <optional>

#include "protocol/statements.h"

namespace heartpage::server {
namespace {

constexpr std::string_view kSettings = wire::kSettingsQuery;
constexpr std::string_view kMachineLookup = wire::kMachineLookupStart;
constexpr std::string_view kNameLookup = wire::kNameLookupStart;
using wire::kClaimEnd;
using wire::kClaimMiddle;
using wire::kClaimStart;

// Reads a quoted value whose opening quote has been consumed, up to and
// including its closing quote. Returns nothing for an unbalanced quote.
std::optional<std::string> ReadQuoted(std::string_view text, std::size_t& pos) {
  std::string value;
  while (pos < text.size()) {
    const char c = text[pos];
    if (c != '\'') {
      value.push_back(c);
      ++pos;
    } else if (pos + 1 < text.size() && text[pos + 1] == '\'') {
      value.push_back('\'');
      pos += 2;
    } else {
      ++pos;
      return value;
    }
  }
  return std::nullopt;
}

StatementError Unbalanced() {
  return {"unbalanced quote in statement"};
}
StatementError TrailingText() {
  return {"unexpected text after the value in statement"};
}

}  // namespace

Statement ParseStatement(std::string_view text) {
  if (text == kSettings) return SettingsQuery{};
  for (const std::string_view prefix : {kMachineLookup, kNameLookup}) {
    if (!text.starts_with(prefix)) continue;
    std::size_t pos = prefix.size();
    std::optional<std::string> value = ReadQuoted(text, pos);
    if (!value) return Unbalanced();
    if (pos != text.size()) return TrailingText();
    if (prefix == kMachineLookup) return MachineLookup{std::move(*value)};
    return NameLookup{std::move(*value)};
  }
  if (text.starts_with(kClaimStart)) {
    std::size_t pos = kClaimStart.size();
    std::optional<std::string> machine_id = ReadQuoted(text, pos);
    if (!machine_id) return Unbalanced();
    // The closing quote of the first value was consumed; the separator's
    // remaining ", '" must follow.
    if (text.substr(pos, kClaimMiddle.size() - 1) != kClaimMiddle.substr(1)) return TrailingText();
    pos += kClaimMiddle.size() - 1;
    std::optional<std::string> name = ReadQuoted(text, pos);
    if (!name) return Unbalanced();
    if (text.substr(pos) != kClaimEnd.substr(1)) return TrailingText();
    return NameClaim{std::move(*machine_id), std::move(*name)};
  }
  return StatementError{"statement not supported"};
}

}  // namespace heartpage::server
