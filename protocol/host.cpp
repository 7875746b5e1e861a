#include "protocol/host.h"

#include <cstdlib>
#include <utility>
#include <vector>

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

namespace {

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

std::vector<std::string_view> Labels(std::string_view host) {
  std::vector<std::string_view> labels;
  for (std::size_t start = 0;;) {
    const std::size_t dot = host.find('.', start);
    labels.push_back(host.substr(start, dot - start));
    if (dot == std::string_view::npos) return labels;
    start = dot + 1;
  }
}

// A name whose top label is a number, or four labels of which three are
// numbers, was meant as an IPv4 address: a slip of the keyboard there
// ("127.0.0.l") must not go out as a name to look up.
bool MeantAsIpv4(const std::vector<std::string_view>& labels) {
  if (AllDigits(labels.back())) return true;
  if (labels.size() != 4) return false;
  int numbers = 0;
  for (const std::string_view label : labels) numbers += AllDigits(label) ? 1 : 0;
  return numbers >= 3;
}

bool IsIpv4(const std::vector<std::string_view>& labels) {
  if (labels.size() != 4) return false;
  for (const std::string_view label : labels)
    if (!AllDigits(label) || label.size() > 3 || std::stoi(std::string(label)) > 255) return false;
  return true;
}

HostProblem Problem(std::string english, std::string chinese) {
  return {std::move(english), std::move(chinese)};
}

}  // namespace

std::optional<HostProblem> CheckHost(std::string_view configured) {
  const std::size_t separator = configured.find("://");
  if (separator != std::string_view::npos) {
    std::string_view rest = configured;
    if (TakeWebScheme(rest).empty()) {
      const std::string scheme(configured.substr(0, separator + 3));
      return Problem("\"" + scheme + "\" is no scheme the program speaks: write the host alone, " +
                         "or with http:// or https:// before it",
                     "“" + scheme + "”不是可用的协议：只写主机，或在前面加 http:// 或 https://");
    }
    configured = rest;
  }
  if (configured.ends_with('/')) configured.remove_suffix(1);
  if (configured.find_first_of("/?#@") != std::string_view::npos)
    return Problem("nothing but a port may follow the host", "主机后面只能跟端口，不能有路径");
  // A Chinese keyboard types these in full width; the name's other
  // characters may be Chinese, so each is pointed at rather than the whole.
  for (const auto& [wide, ascii] : {std::pair{"：", ":"}, {"．", "."}, {"。", "."}}) {
    const std::size_t at = configured.find(wide);
    if (at == std::string_view::npos) continue;
    const std::string before(configured.substr(0, at));
    return Problem("the full-width \"" + std::string(wide) + "\" after \"" + before +
                       "\" should be an ASCII '" + ascii + "'",
                   "“" + before + "”后面的“" + wide + "”是全角字符，请改为半角的“" + ascii + "”");
  }
  std::string_view host = configured;
  std::string_view port;
  bool has_port = false;
  if (host.starts_with('[')) {
    const std::size_t close = host.find(']');
    if (close == std::string_view::npos || !IsValidAuthority(host.substr(0, close + 1)))
      return Problem("an IPv6 address goes whole in brackets, as [::1]:8936",
                     "IPv6 地址须完整写在方括号中，如 [::1]:8936");
    if (close + 1 < host.size()) {
      if (host[close + 1] != ':')
        return Problem("nothing but a port may follow the host", "主机后面只能跟端口，不能有路径");
      has_port = true;
      port = host.substr(close + 2);
    }
    host = host.substr(0, close + 1);
  } else if (const std::size_t colon = host.find(':'); colon != std::string_view::npos) {
    if (host.find(':', colon + 1) != std::string_view::npos)
      return Problem("an IPv6 address goes in brackets, as [::1]:8936",
                     "IPv6 地址须写在方括号中，如 [::1]:8936");
    has_port = true;
    port = host.substr(colon + 1);
    host = host.substr(0, colon);
  }
  if (host.empty()) return Problem("no host is named", "没有写主机");
  if (has_port && (!AllDigits(port) || port.size() > 5 || std::stol(std::string(port)) < 1 ||
                   std::stol(std::string(port)) > 65535)) {
    const std::string shown(port);
    return Problem("the port must be a number from 1 to 65535, not \"" + shown + "\"",
                   "端口必须是 1 到 65535 之间的数字，不是“" + shown + "”");
  }
  if (host.starts_with('[')) return std::nullopt;
  for (const char c : host)
    if (!IsHostCharacter(c))
      return Problem("a host name holds only letters, digits, '-', '.' and '_'",
                     "主机名只能包含字母、数字、“-”、“.”和“_”");
  const std::vector<std::string_view> labels = Labels(host);
  if (MeantAsIpv4(labels) && !IsIpv4(labels)) {
    const std::string shown(host);
    return Problem(
        "\"" + shown + "\" is no IPv4 address: four numbers from 0 to 255 with dots between",
        "“" + shown + "”不是有效的 IPv4 地址：应为以点分隔的四个 0 到 255 之间的数字");
  }
  return std::nullopt;
}

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

std::optional<HostProblem> ConfiguredHostProblem() {
  const char* set = std::getenv(std::string(kHostVariable).c_str());
  const bool from_environment = set != nullptr && *set != '\0';
  const std::string configured = from_environment ? set : HEARTPAGE_DEFAULT_HOST;
  std::optional<HostProblem> problem = CheckHost(configured);
  if (!problem) return std::nullopt;
  if (from_environment) {
    problem->english = std::string(kHostVariable) + "=" + configured + ": " + problem->english;
    problem->chinese = "环境变量 " + std::string(kHostVariable) + " 的值“" + configured +
                       "”有误：" + problem->chinese;
  } else {
    problem->english = "the built-in host " + configured + ": " + problem->english;
    problem->chinese = "程序内置的主机“" + configured + "”有误：" + problem->chinese;
  }
  return problem;
}

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
