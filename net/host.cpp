#include "net/host.h"

#include <cstdlib>

namespace heartpage {

std::string PublishingHost() {
  const char* configured = std::getenv("HEARTPAGE_HOST");
  if (configured != nullptr && *configured != '\0') return configured;
  return HEARTPAGE_DEFAULT_HOST;
}

std::string EndpointAddress() {
  return "http://" + PublishingHost() + "/asp/index.asp";
}

std::string PageAddress(std::string_view name) {
  return "http://" + PublishingHost() + "/Test/" + std::string(name);
}

std::string HomeAddress() {
  return "http://" + PublishingHost() + "/";
}

std::string BindHost(std::string_view text) {
  const std::string host = PublishingHost();
  std::string out;
  out.reserve(text.size());
  for (std::size_t pos = 0;;) {
    const std::size_t hit = text.find(kHostToken, pos);
    out.append(text.substr(pos, hit - pos));
    if (hit == std::string_view::npos) return out;
    out.append(host);
    pos = hit + kHostToken.size();
  }
}

}  // namespace heartpage
