#pragma once

#include <string>
#include <string_view>

// The publishing host that every address of the program is derived from: the
// compiled-in default, unless the environment variable HEARTPAGE_HOST names
// another one ("host" or "host:port").
namespace heartpage {

std::string PublishingHost();

// "http://" + host + "/asp/index.asp"
std::string EndpointAddress();
// "http://" + host + "/Test/" + name
std::string PageAddress(std::string_view name);
// "http://" + host + "/"
std::string HomeAddress();

// Templates and default field values name the publishing host with this token;
// BindHost puts the configured host in its place.
inline constexpr std::string_view kHostToken = "{publishing-host}";
std::string BindHost(std::string_view text);

}  // namespace heartpage
