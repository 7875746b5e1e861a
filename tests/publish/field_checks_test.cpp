#include "publish/field_checks.h"

#include <gtest/gtest.h>

#include "tests/support/address_server.h"

namespace heartpage {
namespace {

using testing::AddressServer;
using testing::LoopbackListener;

// Every sort of address at once, one of them hanging: each gets its own
// verdict, and the hanging one is reported as not answering rather than
// holding up the rest.
TEST(FieldChecks, EachAddressIsJudgedByItsAnswerAndItsKind) {
  const AddressServer server;
  const std::string closed = "http://127.0.0.1:" + std::to_string(LoopbackListener::ClosedPort());
  const std::vector<AddressCheck> addresses = {
      {"图", FieldKind::kPicture, server.Url("/good.jpg")},
      {"跳转的图", FieldKind::kPicture, server.Url("/moved.jpg")},
      {"拒绝 HEAD 的音乐", FieldKind::kMusic, server.Url("/song.mp3")},
      {"视频", FieldKind::kVideo, server.Url("/clip.mp4")},
      {"网页作链接", FieldKind::kAddress, server.Url("/page.html")},
      {"不存在的图", FieldKind::kPicture, server.Url("/gone.jpg")},
      {"网页作音乐", FieldKind::kMusic, server.Url("/page.html")},
      {"图作视频", FieldKind::kVideo, server.Url("/good.jpg")},
      {"没有回应", FieldKind::kMusic, server.Url("/hang")},
      {"没人听", FieldKind::kPicture, closed + "/x.jpg"},
      {"不是网址", FieldKind::kPicture, "ftp://127.0.0.1/x.jpg"},
      {"相对地址", FieldKind::kPicture, "images/x.jpg"},
      {"另一网站", FieldKind::kPicture, "//127.0.0.1/x.jpg"},
  };
  const std::vector<std::string> reasons =
      CheckAddresses(addresses, {std::chrono::milliseconds(1500), 5});
  const std::vector<std::string> expected = {
      "",
      "",
      "",
      "",
      "",
      "服务器回答 404",
      "不是音乐（text/html）",
      "不是视频（image/jpeg）",
      "2 秒内没有回应",
      "无法连接",
      "不是以 http:// 或 https:// 开头的网址",
      "不是以 http:// 或 https:// 开头的网址",
      std::string(kOtherHostReason),
  };
  ASSERT_EQ(reasons.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(reasons[i], expected[i]) << addresses[i].caption;
}

// A style's fields: addresses and the date parts together, in the order of
// the rows, captioned without their colon; an emptied address is left alone.
TEST(FieldChecks, AStylesFindingsFollowItsRowsAndDatesAreRealCalendarDates) {
  const AddressServer server;
  const Style& style = GetStyle(2);
  FieldMap fields = FieldMap::Defaults(style);
  fields.values["Text1(6)"] = "";                        // picture: emptied
  fields.values["Text1(7)"] = server.Url("/page.html");  // where a click leads: any page
  fields.values["Text1(8)"] = server.Url("/page.html");  // music
  const auto date = [&](const std::string& year, const std::string& month0,
                        const std::string& day) {
    fields.values["Text1(4)"] = year;
    fields.values["Text1(9)"] = month0;
    fields.values["Text1(10)"] = day;
    std::vector<std::string> lines;
    for (const Finding& finding : CheckFields(style, fields)) lines.push_back(FindingLine(finding));
    return lines;
  };
  const std::string music = "背景音乐地址：不是音乐（text/html）";
  EXPECT_EQ(date("2013", "5", "20"), std::vector<std::string>{music});
  EXPECT_EQ(date("2024", "1", "29"), std::vector<std::string>{music}) << "a leap year";
  EXPECT_EQ(date("2023", "1", "29"),
            (std::vector<std::string>{music, "相识时间：2023 年 2 月没有 29 日"}));
  EXPECT_EQ(date("1900", "1", "29"),
            (std::vector<std::string>{music, "相识时间：1900 年 2 月没有 29 日"}));
  EXPECT_EQ(date("2013", "12", "1").back(), "相识时间：没有 13 月（月份填 1–12）");
  EXPECT_EQ(date("2013", "-1", "1").back(), "相识时间：没有 0 月（月份填 1–12）");
  EXPECT_EQ(date("2013", "3", "31").back(), "相识时间：2013 年 4 月没有 31 日");
  EXPECT_EQ(date("2013", "五", "1").back(), "相识时间：月份“五”不是数字");
  EXPECT_EQ(date("二〇一三", "5", "1").back(), "相识时间：年份“二〇一三”不是数字");
  EXPECT_EQ(date("2013", "5", "0").back(), "相识时间：2013 年 6 月没有 0 日");

  // A colour may lack its "#"; what is no colour is named.
  FieldMap four = FieldMap::Defaults(GetStyle(4));
  four.values["Text8(41)"] = four.values["Text8(42)"] = "";
  four.values["Text8(43)"] = "ff0000";
  four.values["Text8(44)"] = "红色";
  ASSERT_EQ(CheckFields(GetStyle(4), four).size(), 1u);
  EXPECT_EQ(FindingLine(CheckFields(GetStyle(4), four)[0]),
            "文字颜色：“红色”不是颜色（应为 #RGB 或 #RRGGBB），页面用默认颜色");
}

// Sample text of the defaults: placeholders, the sample people where the
// default named them, the example number and signature, and a sample name
// split over two boxes (one finding under their one caption). A name the
// default did not have, addresses and dates are no sample text.
TEST(FieldChecks, SampleTextLeftInTheTextFieldsIsListedWhenAskedFor) {
  CheckOptions options;
  options.sample_text = true;
  const auto lines = [&](int number, const FieldMap& fields) {
    std::vector<std::string> found;
    for (const Finding& finding : CheckFields(GetStyle(number), fields, options))
      found.push_back(FindingLine(finding));
    return found;
  };
  FieldMap five = FieldMap::Defaults(GetStyle(5));
  five.values["Text11(13)"] = "";  // the video, not tried here
  EXPECT_EQ(lines(5, five),
            (std::vector<std::string>{"你的名字：还是示例文字", "Q Q：还是示例文字",
                                      "您爱人的姓名或小名（限两个字）：还是示例文字",
                                      "网站标题：还是示例文字"}));
  EXPECT_EQ(CheckFields(GetStyle(5), five).size(), 0u) << "only when asked for";
  five.values["Text11(7)"] = "小明";
  five.values["Text11(8)"] = "987654321";
  five.values["Text11(11)"] = "红";      // "红雨": the sample name no more
  five.values["Text11(15)"] = "给红雨";  // the title, no longer the style's name
  five.values["Text11(0)"] = "思雨，某某说";
  EXPECT_EQ(lines(5, five), (std::vector<std::string>{"第1行：还是示例文字"}));
  five.values["Text11(0)"] = "思雨，我爱你";
  EXPECT_EQ(lines(5, five), std::vector<std::string>{});

  FieldMap three = FieldMap::Defaults(GetStyle(3));
  for (const char* address : {"Text1(20)", "Text1(21)", "Text1(11)"}) three.values[address] = "";
  EXPECT_EQ(lines(3, three),
            (std::vector<std::string>{"你的署名：还是示例文字", "最下方署名：还是示例文字",
                                      "浏览器标题：还是示例文字", "你的名字：还是示例文字",
                                      "对方名字：还是示例文字"}));
  // Boxes that share a caption are told apart by their place on the line.
  FieldMap four = FieldMap::Defaults(GetStyle(4));
  four.values["Text8(41)"] = four.values["Text8(42)"] = "";
  four.values["Text8(0)"] = "小红";
  four.values["Text8(39)"] = "XXX";
  EXPECT_EQ(lines(4, four), (std::vector<std::string>{"第20行（第1个框）：还是示例文字",
                                                      "第20行（第2个框）：还是示例文字",
                                                      "浏览器标题：还是示例文字"}));
  FieldMap seven = FieldMap::Defaults(GetStyle(7));
  for (auto& [field, value] : seven.values) value = "小红";
  seven.values["Text1(20)"] = "XXX";
  EXPECT_EQ(lines(7, seven), std::vector<std::string>{"第16张图（第2个框）：还是示例文字"});

  const std::vector<Finding> findings = CheckFields(GetStyle(3), three, options);
  EXPECT_EQ(FindingsHeading(findings), "请检查以下内容：");
  EXPECT_EQ(FindingsHeading({{"背景音乐地址", "服务器回答 404"}}), "以下地址可能无法使用：");
}

}  // namespace
}  // namespace heartpage
