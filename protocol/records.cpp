#include "protocol/records.h"

#include "text/gbk.h"

namespace heartpage::wire {
namespace {

Record Split(std::string_view text, std::string_view separator) {
  Record pieces;
  for (std::size_t pos = 0;;) {
    const std::size_t hit = text.find(separator, pos);
    pieces.emplace_back(text.substr(pos, hit - pos));
    if (hit == std::string_view::npos) return pieces;
    pos = hit + separator.size();
  }
}

}  // namespace

std::string FormatRecords(const std::vector<Record>& records) {
  std::string utf8;
  for (const Record& record : records) {
    utf8.append(kRecordSeparator);
    for (const std::string& field : record) {
      utf8.append(field);
      utf8.append(kFieldSeparator);
    }
  }
  return ToGbk(utf8);
}

std::optional<Record> FirstRecord(std::string_view answer) {
  const std::size_t start = answer.find(kRecordSeparator);
  if (start == std::string_view::npos) return std::nullopt;
  const std::string_view rest = answer.substr(start + kRecordSeparator.size());
  const std::string_view record = rest.substr(0, rest.find(kRecordSeparator));
  if (record.empty()) return Record{};
  return Split(record, kFieldSeparator);
}

}  // namespace heartpage::wire
