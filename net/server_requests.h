#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/form_post.h"
#include "protocol/requests.h"

// The conversation with the publishing server: posting the bodies of
// protocol/requests.h, and the two questions asked at start-up.
namespace heartpage {

// Sends one body to the publishing server's endpoint.
using Poster = std::function<PostResult(const std::string& body)>;
// Posts to EndpointAddress() with PostFormChecked.
PostResult PostToEndpoint(const std::string& body);

// The fields of the settings row (3: announcement, 4: current client's
// version label, 5: download address); std::nullopt when the server sent no
// row, which includes an unreachable server and an answer with an error
// status.
std::optional<std::vector<std::string>> FetchSettings(const Poster& post = PostToEndpoint);

// The name `machine_id` owns on the server; empty when it owns none or the
// server cannot be asked.
std::string FetchOwnedName(std::string_view machine_id, const Poster& post = PostToEndpoint);

// The name `machine_id` owns and when its page was last stored ("YYYY-MM-DD
// HH:MM:SS", UTC; empty while it has no page, or from a server that does
// not say). The name is empty when the machine owns none; std::nullopt when
// the server cannot be asked.
struct OwnedPage {
  std::string name;
  std::string stored_at;
};
std::optional<OwnedPage> FetchOwnedPage(std::string_view machine_id,
                                        const Poster& post = PostToEndpoint);

}  // namespace heartpage
