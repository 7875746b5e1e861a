#pragma once

#include <string>
#include <string_view>

#include "server/site/common/answer.h"

// The maker in the browser: the field table it lays its forms out from, the
// preview it shows as she types, and its operations (what a key owns,
// whether a name is taken, a claim, a store), which arrive as JSON and are
// read into the endpoint's own requests, so that they meet the endpoint's
// operations table, limits, log and answers.
namespace heartpage::server {

// What a JSON body may be: the fields of a page are a few lines of text.
inline constexpr std::size_t kMaxMakerBodyBytes = 64 * 1024;

// GET /api/styles: the eight styles with their names and artwork, and each
// style's fields in the editors' groups and reading order, with their
// captions, defaults (on the site's own host) and kinds; then the question
// and its answers.
std::string StylesJson(std::string_view public_host);
Response AnswerStyles(const Request& request, const Site& site);

// POST /api/make/NAME: reads the body once, into `routed` (the endpoint's
// request, or the preview's fields, or why it is refused), and says where it
// is answered.
Work MakerLane(const Request& request, std::string_view operation, const Site& site,
               Routed& routed);
Response AnswerMaker(const Request& request, std::string_view operation, const Site& site,
                     const Routed& routed, Audit* audit);

}  // namespace heartpage::server
