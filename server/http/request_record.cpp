#include "server/http/request_record.h"

#include <variant>

#include "protocol/wire.h"
#include "text/ascii.h"

namespace heartpage::server {

void RequestRecord::Answered(const Response& response) {
  status = StatusOf(response);
  bytes = BodyBytesOf(response);
  outcome.clear();
  if (const auto* text = std::get_if<StringResponse>(&response); text != nullptr && status >= 400) {
    const std::string_view body = text->body();
    outcome.assign(body.substr(0, body.find('\n')));
  }
}

LogEntry RequestRecord::Entry() const {
  // A storage failure is logged whatever the request asked, with the
  // storage's own reason rather than what the client was told.
  const bool told = !audit.operation.empty() || !audit.failure.empty() ||
                    EqualsIgnoringCase(target, wire::kEndpointPath);
  return {method,
          target,
          status,
          bytes,
          started,
          client,
          told ? &audit : nullptr,
          audit.failure.empty() ? std::string_view(outcome) : std::string_view(audit.failure)};
}

void RequestRecord::Clear() {
  method.clear();
  target.clear();
  status = 0;
  bytes = 0;
  started = {};
  client.clear();
  audit.operation = {};
  audit.name.clear();
  audit.failure.clear();
  outcome.clear();
}

}  // namespace heartpage::server
