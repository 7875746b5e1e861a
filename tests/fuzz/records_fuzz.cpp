// The server's record writer against the client's record reader: every row
// the server may write (fields of well-formed text that the server's own
// check lets through) reads back on the client as the same fields.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "protocol/records.h"
#include "protocol/requests.h"
#include "tests/fuzz/fuzz_check.h"
#include "text/gbk.h"

namespace wire = heartpage::wire;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  std::vector<wire::Record> rows(provider.ConsumeIntegralInRange(0, 3));
  for (wire::Record& row : rows) {
    row.resize(provider.ConsumeIntegralInRange(0, 6));
    for (std::string& field : row) {
      field = provider.ConsumeRandomLengthString(64);
      if (!heartpage::fuzz::IsWellFormedUtf8(field) || wire::SplitsRecord(field)) return -1;
    }
  }

  // What the client reads is the answer decoded from GBK.
  const std::string answer = heartpage::FromGbk(wire::FormatRecords(rows));
  const std::optional<std::vector<std::string>> first = heartpage::wire::FirstRecord(answer);
  if (rows.empty()) {
    FUZZ_CHECK(!first);
    return 0;
  }
  FUZZ_CHECK(first);
  // Every field is followed by its mark, so a row of fields reads back with
  // one empty piece after the last.
  std::vector<std::string> expected = rows.front();
  if (!expected.empty()) expected.emplace_back();
  FUZZ_CHECK(*first == expected);
  // What the client makes of a lookup's first row.
  if (rows.front().size() >= 2) {
    FUZZ_CHECK(heartpage::OwnedNameIn(answer, rows.front()[0]) == rows.front()[1]);
    FUZZ_CHECK(heartpage::NameTakenIn(answer, rows.front()[1]));
  }
  return 0;
}
