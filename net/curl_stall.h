#pragma once

#include <curl/curl.h>

#include <chrono>

namespace heartpage {

// Gives up a transfer of `easy` that moves no byte either way for `stall`
// (at least one second): a server that died, or a proxy that stopped
// reading, ends the request instead of holding it until its total limit.
void LimitStalls(CURL* easy, std::chrono::seconds stall);

}  // namespace heartpage
