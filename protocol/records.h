#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/wire.h"

// The record format of query answers: each record opens with "いゼ" and each
// field is followed by "い"; no records give the empty answer.
namespace heartpage::wire {

using Record = std::vector<std::string>;

// The server's side: the records as GBK bytes.
std::string FormatRecords(const std::vector<Record>& records);

// A field that would split a record where it should not: one holding "い",
// or one starting with "ゼ", which the mark of the field before it would turn
// into the start of a new record.
inline bool SplitsRecord(std::string_view utf8) {
  return utf8.find(kFieldSeparator) != std::string_view::npos ||
         utf8.starts_with(kRecordSeparator.substr(kFieldSeparator.size()));
}

// The program's side, on the answer in UTF-8: the fields of record 1 (the
// first); std::nullopt when the answer has no record 1, which is how a query
// that matched nothing reads. An empty record 1 has no fields.
std::optional<Record> FirstRecord(std::string_view answer);

}  // namespace heartpage::wire
