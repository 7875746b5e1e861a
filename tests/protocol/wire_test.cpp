#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "protocol/records.h"
#include "protocol/statements.h"
#include "text/gbk.h"

namespace heartpage::wire {
namespace {

using Fields = std::vector<std::string>;

TEST(WireTest, StatementsWithPlainValuesAreExactlyTheFixedOnes) {
  EXPECT_EQ(SettingsStatement(), "select * from 系统设置");
  EXPECT_EQ(OwnershipLookupStatement("abc123"), "select * from 免费 where 硬盘ID='abc123'");
  EXPECT_EQ(NameLookupStatement("mine"), "select * from 免费 where 文件名='mine'");
  EXPECT_EQ(NameClaimStatement("X", "y1"), "insert into 免费 (硬盘ID,文件名) values ('X', 'y1')");
}

TEST(WireTest, QuotesInsideValuesAreDoubled) {
  EXPECT_EQ(QuoteValue(""), "");
  EXPECT_EQ(QuoteValue("'"), "''");
  EXPECT_EQ(QuoteValue("a''b"), "a''''b");
  EXPECT_EQ(NameLookupStatement("x' or '1'='1"),
            "select * from 免费 where 文件名='x'' or ''1''=''1'");
  EXPECT_EQ(OwnershipLookupStatement("'; delete from 免费; --"),
            "select * from 免费 where 硬盘ID='''; delete from 免费; --'");
  EXPECT_EQ(NameClaimStatement("O'Brien", "it's"),
            "insert into 免费 (硬盘ID,文件名) values ('O''Brien', 'it''s')");
}

TEST(WireTest, FirstRecordIsTheTextBetweenTheFirstTwoRecordSeparators) {
  EXPECT_EQ(FirstRecord(""), std::nullopt);
  EXPECT_EQ(FirstRecord("abc123いmine"), std::nullopt);
  EXPECT_EQ(FirstRecord("いゼ"), Fields{});
  EXPECT_EQ(FirstRecord("headいゼaいbいいゼcいd"), (Fields{"a", "b", ""}));
  EXPECT_EQ(FirstRecord("いゼ1いHeartPageいhomeい欢迎使用いV1.0いhttp://dl/い"),
            (Fields{"1", "HeartPage", "home", "欢迎使用", "V1.0", "http://dl/", ""}));
  // "ゼ" alone is an ordinary character.
  EXPECT_EQ(FirstRecord("ゼaいb"), std::nullopt);
}

TEST(WireTest, FormatsRowsAsTheClientSplitsThem) {
  EXPECT_EQ(FormatRecords({}), "");
  EXPECT_EQ(FromGbk(FormatRecords({{"abc123", "mine", "2026-01-01 00:00:00"}})),
            "いゼabc123いmineい2026-01-01 00:00:00い");
  EXPECT_EQ(FormatRecords({{"中"}, {""}}),
            "\xA4\xA4\xA5\xBC\xD6\xD0\xA4\xA4\xA4\xA4\xA5\xBC\xA4\xA4");
}
}  // namespace
}  // namespace heartpage::wire
