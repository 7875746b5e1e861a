#include "protocol/requests.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "protocol/page_name.h"
#include "protocol/receipts.h"
#include "text/gbk.h"
#include "text/value_encoding.h"

namespace heartpage {
namespace {

using namespace wire;
using Fields = std::vector<std::string>;

PageSettings Settings(std::string opens, std::string code, std::string hint) {
  PageSettings settings;
  settings.opens = std::move(opens);
  settings.code = std::move(code);
  settings.hint = std::move(hint);
  return settings;
}

// The statement a body carries, read back the way the server reads it.
std::string StatementOf(const std::string& body) {
  const std::size_t at = body.find("&sql=");
  const auto bytes = DecodeValue(body.substr(at + 5));
  return bytes ? FromGbk(*bytes) : "<undecodable>";
}

TEST(RequestsTest, BodiesAreCodeThenStatementOrNameThenPage) {
  EXPECT_EQ(SettingsRequest(),
            "zc=49&sql=115A101A108A101A99A116A32A42A32A102A114A111A109A32A-12363A-12877A-13848A-"
            "10557");
  EXPECT_EQ(NameLookupRequest("ab"),
            "zc=49&sql=" + EncodeValue("select * from 免费 where 文件名='ab'"));
  EXPECT_EQ(OwnershipLookupRequest("S1"),
            "zc=49&sql=" + EncodeValue("select * from 免费 where 硬盘ID='S1'"));
  EXPECT_EQ(NameClaimRequest("S1", "ab"),
            "zc=50&sql=" + EncodeValue("insert into 免费 (硬盘ID,文件名) values ('S1', 'ab')"));
  EXPECT_EQ(PageStoreRequest("abc", "S1", "<p>中</p>"),
            "zc=52&File=97A98A99&ID=83A49&data=60A112A62A-10544A60A47A112A62");
  EXPECT_EQ(PageStoreRequest("abc", "S1", ""), "zc=52&File=97A98A99&ID=83A49&data=");
  // Settings go before the page, and only those that are set.
  EXPECT_EQ(PageStoreRequest("abc", "S1", "", Settings("2027-02-14 12:00:00", "", "")),
            "zc=52&File=97A98A99&ID=83A49&opens=" + EncodeValue("2027-02-14 12:00:00") + "&data=");
  EXPECT_EQ(PageStoreRequest("abc", "S1", "", Settings("", "上海", "城市？")),
            "zc=52&File=97A98A99&ID=83A49&code=" + EncodeValue("上海") +
                "&hint=" + EncodeValue("城市？") + "&data=");
  // Quotes in values go over the wire doubled.
  EXPECT_EQ(StatementOf(NameClaimRequest("a'b", "c")),
            "insert into 免费 (硬盘ID,文件名) values ('a''b', 'c')");
}

// What the machine code produces: zero padding, tabs, spaces, quotes and
// Chinese, up to 200 bytes. The server reads back exactly that identifier
// from every request that carries one, and an answer that echoes it is
// recognised as this machine's.
TEST(RequestsTest, EveryIdentifierTravelsWhole) {
  const std::string ids[] = {
      std::string("WD-123\0\0\0\0", 10), "a\tb", " spaced ", "盘'1\t", std::string(199, '\0') + "z",
  };
  for (const std::string& id : ids) {
    const std::string shown = "\"" + id + "\" (" + std::to_string(id.size()) + " bytes)";
    EXPECT_EQ(StatementOf(OwnershipLookupRequest(id)), wire::OwnershipLookupStatement(id)) << shown;
    EXPECT_NE(StatementOf(NameClaimRequest(id, "n")).find("('" + wire::QuoteValue(id) + "', 'n')"),
              std::string::npos)
        << shown;
    const std::string store = PageStoreRequest("n", id, "p");
    const std::size_t from = store.find("&ID=") + 4;
    const auto stored = DecodeValue(store.substr(from, store.find("&data=") - from));
    ASSERT_TRUE(stored.has_value()) << shown;
    EXPECT_EQ(FromGbk(*stored), id) << shown;
    EXPECT_EQ(OwnedNameIn(FromGbk(ToGbk("いゼ" + id + "いmineい")), id), "mine") << shown;
  }
}

TEST(RequestsTest, OwnershipAnswersForMachineAbc123) {
  struct Case {
    const char* answer;
    const char* owned;
  };
  const Case cases[] = {
      {"いゼabc123いmine", "mine"},
      {"headerいゼabc123いmineいいゼotherいrow", "mine"},
      {"abc123いmine", ""},
      {"いゼxyz789いmine", ""},
      {"", ""},
      {"いゼabc123", ""},
      {"いゼABC123いmine", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(OwnedNameIn(c.answer, "abc123"), c.owned) << c.answer;
}

TEST(RequestsTest, ANameIsTakenOnlyWhenTheFirstRowCarriesItInAnyCase) {
  EXPECT_TRUE(NameTakenIn("いゼS1いabc", "abc"));
  EXPECT_TRUE(NameTakenIn("いゼいabcいいゼS2いother", "abc"));
  EXPECT_TRUE(NameTakenIn("いゼいABC", "abc"));
  EXPECT_FALSE(NameTakenIn("いゼいab1", "aB2"));
  EXPECT_FALSE(NameTakenIn("いゼS1いabc ", "abc"));
  EXPECT_FALSE(NameTakenIn("いゼS1いother", "abc"));
  EXPECT_FALSE(NameTakenIn("いゼS1", "abc"));
  EXPECT_FALSE(NameTakenIn("", "abc"));
  EXPECT_FALSE(NameTakenIn("S1いabc", "abc"));
}

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
// A page's texts are whatever its sender typed: one that holds a separator
// must not split the owner's answer into records that were never sent.
TEST(WireTest, AReceiptReadsBackWhateverItsTextsHold) {
  Receipt sent;
  sent.question = "いゼ做我女朋友好吗い？";
  sent.choices = {"ゼゼ我愿意", "让我想想い"};
  sent.opened = 3;
  sent.first_opened = "2026-12-08 21:00:00";
  sent.answers = {{1, "ゼゼ我愿意", "2026-12-08 21:05:00"}, {2, "让我想想い", ""}};
  Receipt earlier;
  earlier.question = "还记得我吗？";
  earlier.opened = 2;
  earlier.answers = {{1, "记得", "2026-12-07 20:00:00"}};
  earlier.replaced = "2026-12-08 09:00:00";
  sent.earlier = {earlier, Receipt{}};
  sent.opens = "2027-02-14 12:00:00";
  sent.has_code = true;
  sent.hint = "我们第一次见面的城市い？";
  const std::optional<Receipt> read = ReceiptIn(FromGbk(FormatRecords(ReceiptRecords(sent))));
  ASSERT_TRUE(read);
  EXPECT_EQ(read->question, "做我女朋友好吗？");
  EXPECT_EQ(read->choices, (std::array<std::string, 2>{"我愿意", "让我想想"}));
  EXPECT_EQ(read->opened, 3);
  EXPECT_EQ(read->first_opened, "2026-12-08 21:00:00");
  EXPECT_EQ(read->last_opened, "");
  ASSERT_EQ(read->answers.size(), 2u);
  EXPECT_EQ(read->answers[0].text, "我愿意");
  EXPECT_EQ(read->answers[1].choice, 2);
  // Earlier versions come after, in records a reader of the page online
  // alone passes over.
  ASSERT_EQ(read->earlier.size(), 2u);
  EXPECT_EQ(read->earlier[0], earlier);
  EXPECT_TRUE(read->earlier[1].answers.empty());
  EXPECT_EQ(read->opens, sent.opens);
  EXPECT_TRUE(read->has_code);
  EXPECT_EQ(read->hint, "我们第一次见面的城市？");
  EXPECT_EQ(ReceiptIn("いゼ问题いAいBいmanyい"), std::nullopt);
}

// One rule for the program's check before upload and the server's refusal.
TEST(WireTest, PageSettingsAreAMomentThatExistsAndACodeWithItsHint) {
  EXPECT_EQ(PageSettingsProblem({}), "");
  EXPECT_EQ(PageSettingsProblem(Settings("2028-02-29 23:59:59", "上海", "城市")), "");
  for (const char* opens : {"2027-02-29 12:00:00", "2027-02-14T12:00:00", "2027-02-14 24:00:00",
                            "2027-2-14 12:00:00", "1969-12-31 23:59:59", "2027-02-14 12:00"})
    EXPECT_NE(PageSettingsProblem(Settings(opens, "", "")), "") << opens;
  EXPECT_EQ(PageSettingsProblem(Settings("", "上海", "")), "a code without a hint");
  EXPECT_EQ(PageSettingsProblem(Settings("", "", "城市")), "a hint without a code");
  EXPECT_EQ(PageSettingsProblem(Settings("", std::string(32, 'a'), "h")), "");
  EXPECT_NE(PageSettingsProblem(Settings("", std::string(33, 'a'), "h")), "");
  std::string chinese;
  for (int i = 0; i < 41; ++i) chinese += "城";
  EXPECT_NE(PageSettingsProblem(Settings("", "a", chinese)), "");
  EXPECT_EQ(PageSettingsProblem(Settings("", "a", chinese.substr(3))), "");
  EXPECT_NE(PageSettingsProblem(Settings("", "a\nb", "h")), "");
  EXPECT_NE(PageSettingsProblem(Settings("", "a", "\xC2\x9B")), "");
  // A code that is nothing once canonical could be stored but never given.
  for (const char* blank : {" ", "\t \t", "\xE3\x80\x80", " \xE3\x80\x80 \xE3\x80\x80\t"})
    EXPECT_EQ(PageSettingsProblem(Settings("", blank, "h")),
              "a code of nothing but spaces, which no reader could give")
        << blank;
  EXPECT_EQ(CanonicalCode("\xE3\x80\x80 Shanghai\t\xE3\x80\x80"), "shanghai");
  EXPECT_EQ(CanonicalCode("\xE3\x80\x80 \xE3\x80\x80"), "");
}

// What a sender is warned of: codes a search of a few thousand finds.
TEST(WireTest, ShortNumbersAndDatesAreEasyCodes) {
  for (const char* easy : {"1", "520", " 1314 ", "0214", "20240214", "2024-2-14", "2024/02/14",
                           "14.02.2024", "240214", "02142024", "2月14日", "2024年2月14号", "2-14"})
    EXPECT_TRUE(IsEasyCode(easy)) << easy;
  for (const char* hard : {"上海", "12345", "20241341", "2024-13-40", "wo ai ni", "520a",
                           "1234567890", "2024-02", "abc2024-02-14"})
    EXPECT_FALSE(IsEasyCode(hard)) << hard;
}

// One rule for the upload dialog, the command line and the server.
TEST(PageNameTest, NamesAreOneToThirtyLettersOrDigitsKeptInSmallLetters) {
  EXPECT_TRUE(IsValidPageName("a"));
  EXPECT_TRUE(IsValidPageName("Abc123"));
  EXPECT_TRUE(IsValidPageName(std::string(30, 'x')));
  EXPECT_FALSE(IsValidPageName(""));
  EXPECT_FALSE(IsValidPageName(std::string(31, 'x')));
  for (const char* name : {"a b", "a'b", "a.b", "../a", "a/b", "a\\b", "a%20", "中文", "a-b"})
    EXPECT_FALSE(IsValidPageName(name)) << name;
  EXPECT_FALSE(IsValidPageName(std::string("a\0b", 3)));
  EXPECT_EQ(PageNameKey("Love520XyZ"), "love520xyz");
}

}  // namespace
}  // namespace heartpage
