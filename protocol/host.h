#pragma once

#include <optional>
#include <string>
#include <string_view>

// The publishing host that every address of the program is derived from: the
// compiled-in default, unless the environment variable HEARTPAGE_HOST names
// another one. Either is "host[:port]", reached over http, or
// "https://host[:port]" (also "http://host[:port]").
namespace heartpage {

struct HostAddress {
  std::string scheme;     // "http" or "https"
  std::string authority;  // "host" or "host:port"
  bool operator==(const HostAddress&) const = default;
};

// Splits a configured host. Only the two web schemes are recognised (in any
// letter case); without one the host is reached over http. A trailing "/"
// is dropped.
HostAddress ParseHost(std::string_view configured);

// What is wrong with a configured host, for the person who set it, in
// English (for standard error) and in Chinese (for the program's windows);
// none for a host every address can be made of. Judged once, where the
// program starts: the addresses themselves are made of whatever is set.
struct HostProblem {
  std::string english;
  std::string chinese;
};
std::optional<HostProblem> CheckHost(std::string_view configured);

// The name of the environment variable that sets the host.
inline constexpr std::string_view kHostVariable = "HEARTPAGE_HOST";

// CheckHost of the host in effect, said as one line naming where it was set:
// "HEARTPAGE_HOST=htp://h: …". The English line and the Chinese one.
std::optional<HostProblem> ConfiguredHostProblem();

// The configured host without its scheme: "host" or "host:port".
std::string PublishingHost();
// The scheme and host every address starts with, "http://host:port" or
// "https://host:port".
std::string PublishingOrigin();

// origin + "/asp/index.asp"
std::string EndpointAddress();
// origin + "/Test/" + name
std::string PageAddress(std::string_view name);
// origin + "/"
std::string HomeAddress();

// Templates and default field values name the publishing host with this
// token, always as "http://{publishing-host}/…": BindHost puts the configured
// origin in the place of "http://" and the token together, so a page names
// its addresses over https when the host is an https one and is unchanged,
// byte for byte, when it is a plain one. A token without that prefix becomes
// the host alone.
inline constexpr std::string_view kHostToken = "{publishing-host}";
std::string BindHost(std::string_view text);
// The same for a host given, as the server binds the templates to the address
// it is reached at.
std::string BindHost(std::string_view text, const HostAddress& host);

// Whether `address` is a web address the desktop may be asked to open: an
// http or https URL with a host, optionally a port, and nothing in it that
// is blank or a control character. Anything else (a file, a program's own
// scheme, a relative path) is not.
bool IsWebAddress(std::string_view address);

}  // namespace heartpage
