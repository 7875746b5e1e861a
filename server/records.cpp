#include "server/records.h"

#include "net/gbk.h"

namespace heartpage::server {

std::string FormatRecords(const std::vector<Row>& rows) {
  std::string utf8;
  for (const Row& row : rows) {
    utf8.append(kRecordMark);
    for (const std::string& field : row) {
      utf8.append(field);
      utf8.append(kFieldMark);
    }
  }
  return ToGbk(utf8);
}

}  // namespace heartpage::server
