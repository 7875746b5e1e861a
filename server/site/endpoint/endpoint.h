#pragma once

#include <string_view>

#include "server/site/common/endpoint_request.h"
#include "server/site/common/form.h"
#include "server/storage/storage.h"

namespace heartpage::server {

// A body of the endpoint, read once (EndpointRequest).
EndpointRequest ReadEndpoint(std::string_view body);
// Whether answering `request` hashes a code: a page's store that sets one.
bool SetsCode(const EndpointRequest& request);

// The same from fields already decoded to the bytes the program would send:
// the maker's requests, read from JSON, continue here as the program's do.
EndpointRequest ReadEndpointFields(FormFields fields);

// Runs what `request` asks. Whatever the body, it either runs completely or
// changes nothing. `audit`, when given, is filled in before anything runs,
// so it tells what was asked even when the storage then fails.
EndpointReply HandleEndpoint(const Stores& storage, const EndpointRequest& request,
                             std::string_view public_host, Audit* audit = nullptr);
// Both steps at once.
EndpointReply HandleEndpoint(const Stores& storage, std::string_view body,
                             std::string_view public_host, Audit* audit = nullptr);

}  // namespace heartpage::server
