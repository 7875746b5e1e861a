#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace heartpage::server {

// UTF-8 forms of the answer separators; on the wire they are GBK A4A4 A5BC
// and A4A4.
inline constexpr std::string_view kRecordMark = "いゼ";
inline constexpr std::string_view kFieldMark = "い";

using Row = std::vector<std::string>;

// The answer to a query, as GBK bytes: each row opens with "いゼ" and each
// field is followed by "い". No rows give the empty answer.
std::string FormatRecords(const std::vector<Row>& rows);

// A field that would split a record where it should not: one holding "い",
// or one starting with "ゼ", which the mark of the field before it would turn
// into the start of a new row.
inline bool SplitsRecord(std::string_view utf8) {
  return utf8.find(kFieldMark) != std::string_view::npos ||
         utf8.starts_with(kRecordMark.substr(kFieldMark.size()));
}

}  // namespace heartpage::server
