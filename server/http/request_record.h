#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "server/http/request_log.h"
#include "server/site/common/endpoint_request.h"
#include "server/site/router.h"

namespace heartpage::server {

// What the log tells of the request a connection is on, filled in as the
// request goes. A connection keeps one for all its requests, so that its
// strings keep the room they have grown to instead of taking new memory for
// every request.
struct RequestRecord {
  std::string method;
  std::string target;
  unsigned status = 0;
  std::size_t bytes = 0;
  std::chrono::steady_clock::time_point started{};  // none before a header has come
  std::string client;                               // who the request is from, proxies seen through
  Audit audit;                                      // what an endpoint request or an upload asked
  std::string outcome;                              // an error's reason: the first line of its text

  void Name(std::string_view request_method, std::string_view request_target) {
    method.assign(request_method);
    target.assign(request_target);
  }
  // Takes the status, size and reason of the answer about to be sent.
  void Answered(const Response& response);
  // The log's line of it: with the audit's part for the endpoint's requests
  // and for whatever else tells an operation or a storage failure.
  LogEntry Entry() const;
  // Ready for the connection's next request.
  void Clear();
};

}  // namespace heartpage::server
