#pragma once

#include <cstddef>

#include "server/site/common/answer.h"

// /report: anyone tells the operator about a page of the site, with a plain
// form that needs no script.
namespace heartpage::server {

inline constexpr std::size_t kMaxReportAddressBytes = 300;
inline constexpr std::size_t kMaxReportReasonBytes = 2000;
// Both fields percent-encoded whole, and room for the names.
inline constexpr std::size_t kMaxReportBodyBytes =
    3 * (kMaxReportAddressBytes + kMaxReportReasonBytes) + 64;

// GET: the form (`?page=` fills the address in). POST: the report stored,
// answered with a short thank-you page, or the form again with what to
// mend; what no browser on this site's form would send is refused with one
// short line and changes nothing.
Response AnswerReport(const Request& request, const Site& site, Audit* audit);

// What is refused without a look at the database is answered at once; a
// report goes to the storage at the reports' own rate.
Work ReportLane(const Request& request, const Site& site);

}  // namespace heartpage::server
