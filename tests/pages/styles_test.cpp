#include "pages/styles.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <stdexcept>

#include "pages/holder.h"
#include "pages/substitution.h"
#include "protocol/host.h"

namespace heartpage {
namespace {

TEST(Styles, RowCountsAndWindows) {
  const int rows[] = {16, 11, 22, 45, 18, 18, 79, 21};
  for (int n = 1; n <= kStyleCount; ++n) {
    const Style& style = GetStyle(n);
    EXPECT_EQ(style.number, n);
    EXPECT_EQ(style.window, "FG" + std::to_string(n));
    EXPECT_EQ(static_cast<int>(style.rows.size()), rows[n - 1]) << "style " << n;
    EXPECT_EQ(style.has_check, n == 2 || n == 3);
  }
  EXPECT_THROW(GetStyle(0), std::out_of_range);
  EXPECT_THROW(GetStyle(9), std::out_of_range);
}

TEST(Styles, EachKeyAndFieldHasOneRow) {
  for (int n = 1; n <= kStyleCount; ++n) {
    std::set<std::string> keys, fields;
    for (const FieldRow& row : GetStyle(n).rows) {
      EXPECT_TRUE(keys.insert(row.key).second) << "style " << n << " key " << row.key;
      EXPECT_TRUE(fields.insert(row.Name()).second) << "style " << n << " field " << row.Name();
      EXPECT_FALSE(row.key.empty());
    }
  }
}

TEST(Styles, NoKeyIsDestroyedByAnEarlierShorterKey) {
  // A key containing an earlier row's key would lose its occurrences to that
  // row; the tables put the longer key first.
  for (int n = 1; n <= kStyleCount; ++n) {
    const auto& rows = GetStyle(n).rows;
    for (std::size_t later = 0; later < rows.size(); ++later)
      for (std::size_t earlier = 0; earlier < later; ++earlier)
        EXPECT_EQ(rows[later].key.find(rows[earlier].key), std::string::npos)
            << "style " << n << ": " << rows[later].key << " contains " << rows[earlier].key;
  }
}

TEST(Styles, LoopStylesFormTheirKeysFromTheIndex) {
  for (int n : {7, 8}) {
    const auto& rows = GetStyle(n).rows;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(rows[i].Name(), "Text1(" + std::to_string(i) + ")");
      EXPECT_EQ(rows[i].key, "第" + std::to_string(i) + "张");
    }
  }
  EXPECT_EQ(GetStyle(7).rows.back().key, "第78张");
  EXPECT_EQ(GetStyle(7).rows.back().caption, "标题");
  EXPECT_EQ(GetStyle(7).rows[2].caption, "第1张图");
  EXPECT_EQ(GetStyle(7).rows[77].caption, "第55张图");
  EXPECT_EQ(GetStyle(8).rows[20].caption, "第六页中间内容：");
}

TEST(Styles, SpelledAsTheWindowsShowThem) {
  EXPECT_EQ(GetStyle(3).rows[12].key, "你得署名");
  EXPECT_EQ(GetStyle(3).rows[12].caption, "你的署名：");
  const FieldRow* picture = FindField(GetStyle(4), "Text8(41)");
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->key, "尾面顶部图");
  EXPECT_EQ(picture->caption, "尾页顶部图：");
  EXPECT_EQ(FindField(GetStyle(1), "Text1(5)")->DefaultValue(), "我们约好 这个世界一起逛 ");
  EXPECT_EQ(FindField(GetStyle(1), "Text1(16)"), nullptr);
}

TEST(Styles, EveryDefaultIsFilledAndAddressesStayOnThePublishingHost) {
  const std::string host = "http://" + PublishingHost() + "/";
  for (int n = 1; n <= kStyleCount; ++n) {
    for (const FieldRow& row : GetStyle(n).rows) {
      const std::string value = row.DefaultValue();
      if (!(n == 5 && row.index == 17)) {
        EXPECT_FALSE(value.empty()) << n << " " << row.Name();
      }
      EXPECT_EQ(value.find(kHostToken), std::string::npos);
      if (value.starts_with("http")) {
        EXPECT_TRUE(value.starts_with(host)) << value;
      }
    }
  }
}

// Each row's kind is what its default actually is, so the pickers and the
// address checks never meet a default they would call wrong; and the styles
// that ask for a date ask for all three parts of it.
TEST(Styles, EveryDefaultFitsItsFieldKind) {
  const std::string host = "http://" + PublishingHost() + "/";
  const std::map<FieldKind, std::regex> shapes = {
      {FieldKind::kPicture, std::regex(R"(http://\S+\.(jpg|png))")},
      {FieldKind::kMusic, std::regex(R"(http://\S+\.mp3)")},
      {FieldKind::kVideo, std::regex(R"(http://\S+\.mp4)")},
      {FieldKind::kAddress, std::regex(R"(http://\S+)")},
      {FieldKind::kYear, std::regex(R"((19|20)\d\d)")},
      {FieldKind::kMonth0, std::regex(R"(\d|1[01])")},
      {FieldKind::kDay, std::regex(R"([1-9]|[12]\d|3[01])")},
      {FieldKind::kColour, std::regex(R"(#([0-9A-Fa-f]{3}){1,2})")},
  };
  std::map<FieldKind, int> seen;
  for (int n = 1; n <= kStyleCount; ++n) {
    std::map<FieldKind, int> dates;
    for (const FieldRow& row : GetStyle(n).rows) {
      ++seen[row.kind];
      const std::string value = row.DefaultValue();
      if (row.kind == FieldKind::kText || row.kind == FieldKind::kMarkup) {
        EXPECT_FALSE(value.starts_with("http")) << n << " " << row.Name() << " is an address";
        continue;
      }
      EXPECT_TRUE(std::regex_match(value, shapes.at(row.kind)))
          << n << " " << row.Name() << ": " << value;
      if (row.kind == FieldKind::kYear || row.kind == FieldKind::kMonth0 ||
          row.kind == FieldKind::kDay)
        ++dates[row.kind];
    }
    EXPECT_TRUE(dates.empty() || (dates.size() == 3 && dates.begin()->second == 1)) << n;
  }
  EXPECT_EQ(seen[FieldKind::kPicture], 16);
  EXPECT_EQ(seen[FieldKind::kMusic], 5);
  EXPECT_EQ(seen[FieldKind::kVideo], 2);
  EXPECT_EQ(seen[FieldKind::kColour], 3);
  EXPECT_EQ(seen[FieldKind::kMonth0], 2);
}

TEST(Templates, DeclareTheirCharacterSetAndUseCrLf) {
  const GGCT& holder = GGCT::Get();
  for (int n = 1; n <= kStyleCount; ++n) {
    const std::string_view page = holder.FG(n);
    EXPECT_TRUE(page.find("charset=gb2312") != page.npos || page.find("charset=gbk") != page.npos)
        << "style " << n;
    EXPECT_NE(page.find("</html>"), page.npos) << "style " << n;
    EXPECT_EQ(page.find(kHostToken), page.npos) << "style " << n;
    for (std::size_t i = page.find('\n'); i != page.npos; i = page.find('\n', i + 1))
      ASSERT_EQ(page[i - 1], '\r') << "style " << n << " has a bare line feed";
  }
  EXPECT_TRUE(holder.PF().starts_with("<script"));
  EXPECT_TRUE(holder.FG(2).starts_with("<!DOCTYPE"));
  EXPECT_THROW(holder.FG(9), std::out_of_range);
}

}  // namespace
}  // namespace heartpage
