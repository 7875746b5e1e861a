#include "protocol/host.h"

#include <cstdlib>

#include "protocol/wire.h"

namespace heartpage {
namespace {

constexpr std::string_view kPlainPrefix = "http://";

bool IsAsciiAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Strips "scheme://" when the scheme is one of the two web schemes; answers
// the scheme in small letters, or empty when there is none of them.
std::string TakeWebScheme(std::string_view& text) {
  for (const std::string_view scheme : {"https", "http"}) {
    if (text.size() < scheme.size() + 3 || text.substr(scheme.size(), 3) != "://") continue;
    bool same = true;
    for (std::size_t i = 0; i < scheme.size(); ++i) same = same && Lower(text[i]) == scheme[i];
    if (!same) continue;
    text.remove_prefix(scheme.size() + 3);
    return std::string(scheme);
  }
  return {};
}

bool IsHostCharacter(char c) {
  // Non-ASCII bytes are the UTF-8 of an internationalised name.
  return IsAsciiAlnum(c) || c == '-' || c == '.' || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

bool IsValidAuthority(std::string_view authority) {
  std::string_view host = authority;
  const std::size_t colon = authority.rfind(':');
  const std::size_t bracket = authority.rfind(']');
  if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
    const std::string_view port = authority.substr(colon + 1);
    if (port.empty() || port.size() > 5) return false;
    for (const char c : port)
      if (c < '0' || c > '9') return false;
    host = authority.substr(0, colon);
  }
  if (host.empty()) return false;
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return false;
    for (const char c : host.substr(1, host.size() - 2))
      if (!(IsAsciiAlnum(c) || c == ':' || c == '.')) return false;
    return true;
  }
  for (const char c : host)
    if (!IsHostCharacter(c)) return false;
  return true;
}

}  // namespace

HostAddress ParseHost(std::string_view configured) {
  std::string scheme = TakeWebScheme(configured);
  if (configured.ends_with('/')) configured.remove_suffix(1);
  return {scheme.empty() ? "http" : std::move(scheme), std::string(configured)};
}

namespace {

HostAddress ConfiguredHost() {
  const char* configured = std::getenv("HEARTPAGE_HOST");
  return ParseHost(configured != nullptr && *configured != '\0' ? configured
                                                                : HEARTPAGE_DEFAULT_HOST);
}

}  // namespace

std::string PublishingHost() {
  return ConfiguredHost().authority;
}

std::string PublishingOrigin() {
  const HostAddress host = ConfiguredHost();
  return host.scheme + "://" + host.authority;
}

std::string EndpointAddress() {
  return PublishingOrigin() + std::string(wire::kEndpointPath);
}

std::string PageAddress(std::string_view name) {
  return PublishingOrigin() + std::string(wire::kPagePrefix) + std::string(name);
}

std::string HomeAddress() {
  return PublishingOrigin() + "/";
}

std::string BindHost(std::string_view text) {
  return BindHost(text, ConfiguredHost());
}

std::string BindHost(std::string_view text, const HostAddress& address) {
  const std::string origin = address.scheme + "://" + address.authority;
  const std::string& host = address.authority;
  std::string out;
  out.reserve(text.size());
  for (std::size_t pos = 0;;) {
    const std::size_t hit = text.find(kHostToken, pos);
    if (hit == std::string_view::npos) {
      out.append(text.substr(pos));
      return out;
    }
    const bool prefixed =
        hit >= pos + kPlainPrefix.size() &&
        text.substr(hit - kPlainPrefix.size(), kPlainPrefix.size()) == kPlainPrefix;
    if (prefixed) {
      out.append(text.substr(pos, hit - kPlainPrefix.size() - pos));
      out.append(origin);
    } else {
      out.append(text.substr(pos, hit - pos));
      out.append(host);
    }
    pos = hit + kHostToken.size();
  }
}

bool IsWebAddress(std::string_view address) {
  for (const char c : address)
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) return false;
  if (TakeWebScheme(address).empty()) return false;
  const std::size_t end = address.find_first_of("/?#");
  return IsValidAuthority(address.substr(0, end));
}

}  // namespace heartpage
