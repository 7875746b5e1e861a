#pragma once

#include <string_view>

namespace heartpage {

// The one place where an answer's status becomes what the user reads: each
// refusal of the publishing server, and 0 for no answer at all (an
// unreachable server, a time-out).
std::string_view MessageForStatus(long status);

}  // namespace heartpage
