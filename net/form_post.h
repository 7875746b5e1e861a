#pragma once

#include <chrono>
#include <functional>
#include <string>

// The one way the program talks to the publishing server: a form POST whose
// answer comes back as text. A request blocks its thread until the answer is
// there: the windows make theirs on threads of their own. Every request owns
// its transfer, so requests on several threads run at once.
namespace heartpage {

struct PostResult {
  std::string text;  // the answer body decoded from GBK; empty when none could be read
  bool ok = false;   // the exchange completed with a 2xx status
  long status = 0;   // the HTTP status; 0 when no answer arrived
};

// How long a transfer may make no progress at all before it is given up: a
// server that died mid-answer or a proxy that stopped reading ends a request
// long before its total limit would. The transport averages its speed over
// the last five seconds, so a transfer that stops after moving much ends
// up to five seconds after the limit.
inline constexpr std::chrono::seconds kStallLimit{30};

// How long a request may take before it is given up: a server that accepts
// the connection and never answers must not hang the program.
struct PostLimits {
  std::chrono::milliseconds connect{10'000};
  std::chrono::milliseconds total{60'000};
  // Whole seconds: that is what the transport counts in.
  std::chrono::seconds stall = kStallLimit;
};

// Posts `body` (already encoded, ASCII) to `address` and waits for the whole
// answer. An error status still returns its body; a transport failure or a
// time-out returns the empty text. An https address is reached only when its
// certificate verifies against the system's authorities or those in the file
// named by HEARTPAGE_CA_FILE; one that does not is a transport failure.
PostResult PostFormChecked(std::string address, std::string body, const PostLimits& limits = {});

struct FetchResult {
  std::string bytes;  // the answer body as it came; empty when none could be read
  bool ok = false;    // the exchange completed with a 2xx status
  long status = 0;    // the HTTP status; 0 when no answer arrived
};

// GETs `address` (a page, a file of the site) within `limits`, as the posts
// are made: the same trust, the same size bound on the answer.
FetchResult FetchAddress(const std::string& address, const PostLimits& limits = {});

}  // namespace heartpage
