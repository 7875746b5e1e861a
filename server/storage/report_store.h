#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "server/storage/storage_error.h"

namespace heartpage::server {

// What a visitor told the operator about a page. Who sent it is not kept:
// anyone may report, and a report must not become a record of its sender.
struct Report {
  std::int64_t id = 0;
  // The page name of a published page, or the path of another address of
  // the site (a preview's, a file's).
  std::string page;
  std::string reason;
  std::int64_t reported_at = 0;  // seconds since the epoch
};

enum class ReportResult { kStored, kFull };

// Reports waiting for the operator; both engines bound them alike, so that a
// flood of them can neither fill the disk nor bury the genuine ones for good.
inline constexpr std::int64_t kMaxOpenReports = 10'000;

class ReportStore {
 public:
  virtual ~ReportStore() = default;

  // kFull, storing nothing, while kMaxOpenReports wait.
  virtual ReportResult AddReport(std::string_view page, std::string_view reason,
                                 std::int64_t now) = 0;
  // Newest first, at most `limit`; only those of `page` when it is not empty.
  virtual std::vector<Report> ListReports(std::string_view page, std::size_t limit) = 0;
  // Whether there was such a report; the operator is done with it.
  virtual bool DismissReport(std::int64_t id) = 0;
};

}  // namespace heartpage::server
