#include "protocol/statements.h"

namespace heartpage::wire {

std::string QuoteValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

std::string SettingsStatement() {
  return std::string(kSettingsQuery);
}

std::string OwnershipLookupStatement(std::string_view machine_id) {
  return std::string(kMachineLookupStart) + QuoteValue(machine_id) + std::string(kLookupEnd);
}

std::string NameLookupStatement(std::string_view name) {
  return std::string(kNameLookupStart) + QuoteValue(name) + std::string(kLookupEnd);
}

std::string NameClaimStatement(std::string_view machine_id, std::string_view name) {
  return std::string(kClaimStart) + QuoteValue(machine_id) + std::string(kClaimMiddle) +
         QuoteValue(name) + std::string(kClaimEnd);
}

}  // namespace heartpage::wire
