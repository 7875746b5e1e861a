#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/preview_terms.h"
#include "server/site/common/endpoint_request.h"
#include "server/site/common/form.h"
#include "server/storage/storage.h"

// Temporary previews: a page kept for half an hour under an unguessable
// address, for the sender's own phone. Not a claim, never listed.
namespace heartpage::server {

inline constexpr std::int64_t kPreviewLifetimeSeconds = wire::kPreviewLifetimeMinutes * 60;
inline constexpr std::size_t kPreviewTokenLength = 24;

// kPreviewTokenLength characters of a-z and 2-7 from the system's random
// source: 120 bits, which nobody guesses.
std::string NewPreviewToken();

// Whether `token` could be one of ours; anything else is not looked up.
bool IsValidPreviewToken(std::string_view token);

// Operation 5 (`operation` names it in a refusal): fields zc, ID and data. Stores the page as a
// preview of the machine, sent from `sender`, and answers 200 with the preview's address; 429 past
// the sender's budgets, 507 past the previews' room.
EndpointReply RunPreviewStore(const Stores& storage, const FormFields& fields,
                              std::string_view operation, std::string_view public_host,
                              const AddressBudget& sender);

// The short page of an expired address (UTF-8 HTML).
std::string ExpiredPreviewPage();

}  // namespace heartpage::server
