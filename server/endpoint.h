#pragma once

#include <string>
#include <string_view>

#include "server/storage.h"

namespace heartpage::server {

// The answer to one POST of the endpoint. A record set is GBK; errors are
// short plain ASCII texts.
struct EndpointReply {
  unsigned status = 200;
  std::string body;
  bool records = false;  // body is a GBK record set
};

// Operations 1 (query), 2 (claim) and 4 (store page). Whatever the body, it
// either runs completely or changes nothing.
EndpointReply HandleEndpoint(Storage& storage, std::string_view body, std::string_view public_host);

}  // namespace heartpage::server
