#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/page_settings.h"
#include "server/site/common/answer.h"
#include "server/storage/page_store.h"

// A page that opens at its moment, or to its code: until then its address
// answers with a small page of the site's own, which holds none of the
// sender's words but the hint, so that neither a visitor nor a chat's
// preview of the link learns what the page says before its time.
namespace heartpage::server {

// Where the page that asks for a code sends it: POST .../NAME, "code=…".
inline constexpr std::string_view kUnlockPrefix = "/api/unlock/";
// The cookie that lets a visitor in once the code was given, set for the
// page's own path alone.
inline constexpr std::string_view kUnlockCookie = "hp_unlock";
inline constexpr std::int64_t kUnlockCookieSeconds = 30 * 24 * 3600;
// "code=" and a code of kCodeMaxChars characters, each percent-encoded.
inline constexpr std::size_t kMaxUnlockBodyBytes = 16 + 12 * wire::kCodeMaxChars;

// The gate a store's settings ask for; the code hashed, which is slow: on a
// code worker only (Routed::hashes_code).
PageGate GateOf(const wire::PageSettings& settings);

// The settings as the page's owner reads them back: the moment in the
// protocol's UTC form, whether a code is set, the hint.
struct GateSettings {
  std::string opens;
  bool has_code = false;
  std::string hint;
};
GateSettings SettingsOf(const PageGate& gate);

// What `/Test/NAME` answers instead of the page while its gate is closed to
// this request at `now`: the waiting page before the moment, then the page
// that asks for the code unless the request carries the cookie of this
// version's code. Nothing when the page may be shown. `name` is the page's
// key.
std::optional<Response> HeldBack(const Request& request, std::string_view name,
                                 const StoredPage& page, const Site& site, std::int64_t now);

// 404 with the site's own small page saying that no page stands here.
StringResponse NoPageResponse(const Request& request);

// POST /api/unlock/NAME. A wrong code 403, the right one 204 with the cookie,
// both one try of the address's few at the page (429 past them); taken only
// from the site's own page.
Response AnswerUnlock(const Request& request, std::string_view name, const Site& site,
                      Audit* audit);
// What is refused without the database is answered at once; the rest is a
// visitor's post, counted at the visitors' rate and answered on a code
// worker (the code's hash is CPU).
Work UnlockLane(const Request& request, std::string_view name, const Site& site);

}  // namespace heartpage::server
