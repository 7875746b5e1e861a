#pragma once

#include <string_view>

#include "server/site/common/answer.h"
#include "server/site/common/endpoint_request.h"
#include "server/site/common/form.h"

// What comes back from a published page that asks its question: the
// visitors' two paths, which take an opening or an answer from the page's
// script, and the owner's operation that reads them.
namespace heartpage::server {

// Openings carry nothing, answers "answer=1" or "answer=2": whatever is
// longer is no visitor's.
inline constexpr std::size_t kMaxVisitBodyBytes = 64;

enum class Visit { kOpened, kAnswer };

// POST /api/opened/NAME and /api/answer/NAME. Taken only from a page in an
// origin of its own ("Origin: null") or from a client that names none, never
// from another site's page, which could make its visitors answer for it
// unseen; the answer lets the page read it (Access-Control-Allow-Origin:
// null). Nothing about the visitor is kept.
Response AnswerVisit(Visit visit, const Request& request, std::string_view name, const Site& site,
                     Audit* audit);
// What is refused without a look at the database is answered at once; the
// rest is stored at the visitors' rate by client address.
Work VisitLane(Visit visit, const Request& request, std::string_view name);

// Operation 8 (`operation` names it in a refusal), "zc", "File" and "ID": the receipts of the
// caller's page, as protocol/receipts.h shapes them. 403 for another machine's name, 404 for a name
// nobody claimed.
EndpointReply RunReceipts(const Stores& storage, const FormFields& fields,
                          std::string_view operation, std::string_view public_host);

}  // namespace heartpage::server
