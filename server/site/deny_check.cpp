#include "server/site/deny_check.h"

#include <algorithm>

namespace heartpage::server {
namespace {

constexpr std::size_t kMaxDeniedBytes = 200;

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

std::string_view Trim(std::string_view text) {
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  return text;
}

// The host of an address after its "scheme://", small letters, without
// user, port and final dot.
std::string HostOf(std::string_view rest) {
  rest = rest.substr(0, rest.find_first_of("/?#\\"));
  if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos)
    rest.remove_prefix(at + 1);
  if (rest.starts_with('[')) {
    rest = rest.substr(0, rest.find(']') + 1);
  } else {
    rest = rest.substr(0, rest.find(':'));
  }
  while (rest.ends_with('.')) rest.remove_suffix(1);
  return Lower(rest);
}

bool HostDenied(std::string_view host, std::string_view denied) {
  return host == denied || (host.size() > denied.size() && host.ends_with(denied) &&
                            host[host.size() - denied.size() - 1] == '.');
}

}  // namespace

std::optional<std::string> NormalizeDenied(DenyKind kind, std::string_view value) {
  value = Trim(value);
  if (value.empty() || value.size() > kMaxDeniedBytes) return std::nullopt;
  for (const char c : value)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return std::nullopt;
  if (kind == DenyKind::kWord) return Lower(value);
  std::string lower = Lower(value);
  std::string_view host = lower;
  if (const std::size_t scheme = host.find("://"); scheme != std::string_view::npos)
    host.remove_prefix(scheme + 3);
  std::string bare = HostOf(host);
  // Letters, digits, hyphens and dots, or a name in another script as it is
  // written; never a space, slash or anything else an address would split at.
  if (bare.empty() || bare.starts_with('.') || std::ranges::any_of(bare, [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x80 && !(c >= 'a' && c <= 'z') && !(c >= '0' && c <= '9') && c != '-' &&
               c != '.' && c != '[' && c != ']' && c != ':';
      }))
    return std::nullopt;
  return bare;
}

std::optional<std::string> DeniedIn(const std::vector<std::string>& values,
                                    const std::vector<DenyEntry>& denied) {
  if (denied.empty()) return std::nullopt;
  for (const std::string& value : values) {
    const std::string lower = Lower(value);
    for (const DenyEntry& entry : denied) {
      if (entry.kind == DenyKind::kWord && lower.find(entry.value) != std::string::npos)
        return "the page contains a word this site does not allow: " + entry.value;
    }
    // Every address in the value, wherever it stands in it.
    for (std::size_t at = lower.find("://"); at != std::string::npos;
         at = lower.find("://", at + 3)) {
      const std::string_view before = std::string_view(lower).substr(0, at);
      if (!before.ends_with("http") && !before.ends_with("https")) continue;
      const std::string host = HostOf(std::string_view(lower).substr(at + 3));
      for (const DenyEntry& entry : denied)
        if (entry.kind == DenyKind::kHost && HostDenied(host, entry.value))
          return "the page links to a host this site does not allow: " + entry.value;
    }
  }
  return std::nullopt;
}

}  // namespace heartpage::server
