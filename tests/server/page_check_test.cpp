// Which pages the site publishes: every page the program builds, for this
// site's address, and nothing a sender made up around it.

#include "server/site/policy/page_check.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <random>

#include "pages/builders.h"
#include "pages/question.h"
#include "pages/styles.h"
#include "pages/templates.h"
#include "protocol/host.h"
#include "server/site/common/site_pages.h"

namespace heartpage::server {
namespace {

std::string Build(int style, const FieldMap& fields, std::string_view host) {
  const HostAddress address = ParseHost(host);
  return BuildPage(style, fields, address);
}

// Text as senders type it, markup characters, quotes, line ends, escapes,
// CJK, emoji and the line separators of scripts included.
std::string RandomText(std::mt19937& random) {
  static const std::vector<std::string> kPieces = {
      "a",   "Z",  "7",           " ",       "<",      ">",  "&",     "\"",  "'",    "`",
      "\\",  "/",  "*",           "\n",      "\r\n",   "\t", "&amp;", "<b>", "</b>", "<br>",
      "爱",  "心", "思雨",        "😀",       "\u2028", "#",  "%",     "%41", ";",    "</script>",
      "-->", "${", "javascript:", "http://", "(",      ")",  "{",     "}",   "=",    "?"};
  std::string text;
  const int length = std::uniform_int_distribution<int>(0, 12)(random);
  for (int i = 0; i < length; ++i)
    text += kPieces[std::uniform_int_distribution<std::size_t>(0, kPieces.size() - 1)(random)];
  return text;
}

TEST(PageCheck, EveryPageTheProgramBuildsIsGenuine) {
  std::mt19937 random(20261208);
  for (const std::string host : {"127.0.0.1:8080", "https://pages.example.test"}) {
    for (int n = 1; n <= kStyleCount; ++n) {
      const Style& style = GetStyle(n);
      for (const bool floating : {false, true}) {
        if (floating && !style.has_check) continue;
        std::vector<std::pair<std::string, FieldMap>> cases;
        FieldMap defaults = FieldMap::Defaults(style);
        defaults.checked = floating;
        cases.emplace_back("defaults", defaults);
        FieldMap own = defaults;
        for (const FieldRow& row : style.rows)
          if (row.kind == FieldKind::kPicture || row.kind == FieldKind::kMusic ||
              row.kind == FieldKind::kVideo)
            own.values[row.Name()] = PublicOrigin(host) + "/media/" + std::string(64, 'c') + ".jpg";
        cases.emplace_back("own files", own);
        // Written with less in one place than another: a date's spaces in
        // a script's code, a line end in a comment.
        FieldMap loose = defaults;
        for (const FieldRow& row : style.rows)
          if (row.kind == FieldKind::kYear)
            loose.values[row.Name()] = "7 \t";
          else if (row.kind == FieldKind::kText || row.kind == FieldKind::kMonth0 ||
                   row.kind == FieldKind::kDay)
            loose.values[row.Name()] = "a\r\nb -->";
        cases.emplace_back("loosely written", loose);
        // A long first half of two fields side by side, the fields before
        // it blank: the card's line comes from after them.
        FieldMap halves = defaults;
        for (const FieldRow& row : style.rows)
          if (row.kind == FieldKind::kText && row.index < 11) halves.values[row.Name()] = "\t";
        halves.values["Text11(11)"] = "Zjavascript:爱%;";
        cases.emplace_back("long first half", halves);
        halves.values["Text11(11)"] = "\n\n{Zjavascript:爱%;";
        cases.emplace_back("first half after blank lines", halves);
        halves.values["Text11(11)"] = "爱<</script>';";
        cases.emplace_back("first half with markup", halves);
        halves.values["Text11(11)"] = "http://http://http://http://";
        halves.values["Text11(12)"] = "http://aaa";
        cases.emplace_back("halves alike", halves);
        // The name before the fields that could give the card's line.
        halves.values["Text11(10)"] = "";
        cases.emplace_back("halves after an empty field", halves);
        // Halves of line breaks under the longest line a card shows.
        FieldMap breaks = defaults;
        breaks.values["Text11(0)"] = "";
        std::string longest;
        for (int i = 0; i < 100; ++i) longest += "爱";
        breaks.values["Text11(1)"] = longest;
        for (const char* name : {"Text11(9)", "Text11(10)", "Text11(11)", "Text11(12)"})
          breaks.values[name] = "<br><br><br>";
        cases.emplace_back("halves of line breaks", breaks);
        FieldMap asking = defaults;
        asking.values["Question"] = "做我女朋友好吗？";
        cases.emplace_back("asking", asking);
        // Every key of the style, and the date words, typed into every text
        // field: each stands as typed, and the page is the program's.
        FieldMap keys = defaults;
        std::string every = "那年夏天，生日快乐，月月年年日日";
        for (const FieldRow& row : style.rows) every += "·" + row.key;
        for (const FieldRow& row : style.rows)
          if (row.kind == FieldKind::kText) keys.values[row.Name()] = every;
        cases.emplace_back("every key", keys);
        for (int round = 0; round < 12; ++round) {
          FieldMap typed;
          typed.checked = floating;
          for (const FieldRow& row : style.rows) typed.values[row.Name()] = RandomText(random);
          // Half of them ask a question, with answers as random as the rest.
          if (round % 2 == 1)
            for (const char* field : {"Question", "Answer1", "Answer2"})
              typed.values[field] = RandomText(random);
          cases.emplace_back("random " + std::to_string(round), typed);
        }
        for (const auto& [what, fields] : cases) {
          const std::string page = Build(n, fields, host);
          const PageCheck check = CheckPage(page, host);
          ASSERT_TRUE(check.genuine) << "style " << n << (floating ? " floating, " : ", ") << what
                                     << " for " << host << ": " << check.refusal;
          EXPECT_EQ(check.style, n);
          ASSERT_EQ(check.values.size(), style.rows.size());
          const std::optional<AskedQuestion> asked = QuestionOf(fields);
          EXPECT_EQ(check.question, asked ? asked->question : "") << what;
          const std::vector<std::string> answers =
              asked ? std::vector<std::string>{asked->answer1, asked->answer2}
                    : std::vector<std::string>{};
          EXPECT_EQ(check.answers, answers) << what;
          // Every plain text typed is among the values the check reads out
          // (fields side by side may come out as one, and a line end or an
          // ampersand that stands between two as where they part).
          std::string all;
          for (const std::string& value : check.values) all += value + '\x01';
          for (const FieldRow& row : style.rows) {
            const std::string typed = fields.Value(row.Name());
            if (row.kind == FieldKind::kText && typed.find_first_of("\r\n&") == std::string::npos) {
              EXPECT_NE(all.find(typed), std::string::npos)
                  << "style " << n << ", " << what << ", " << row.Name();
            }
          }
        }
      }
    }
  }
}

TEST(PageCheck, AnythingElseIsRefusedWithOneLine) {
  const std::string host = "127.0.0.1:8080";
  FieldMap fields = FieldMap::Defaults(GetStyle(5));
  fields.values["Text11(17)"] = "<b>加粗</b>";
  const std::string page = Build(5, fields, host);
  const PageCheck genuine = CheckPage(page, host);
  ASSERT_TRUE(genuine.genuine);
  // A markup box's value is the text it shows, as a deny list reads it.
  EXPECT_EQ(genuine.values.back(), "加粗");
  const auto replaced = [&](std::string_view from, std::string_view to) {
    std::string changed = page;
    const std::size_t at = changed.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return changed.replace(at, from.size(), to);
  };
  FieldMap default_fields = FieldMap::Defaults(GetStyle(1));
  // A page asking its question, and the same with its part changed.
  FieldMap asking_fields = default_fields;
  asking_fields.values["Question"] = "做我女朋友好吗？";
  const std::string asking = Build(1, asking_fields, host);
  ASSERT_TRUE(CheckPage(asking, host).genuine);
  const auto changed = [&](std::string_view from, std::string_view to) {
    std::string tampered = asking;
    const std::size_t at = tampered.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return tampered.replace(at, from.size(), to);
  };
  const struct {
    std::string what;
    std::string page;
    std::string says;
  } cases[] = {
      {"inline script", replaced("</body>", "<script>alert(1)</script></body>"), "differs"},
      {"remote script", replaced("</head>", "<script src=\"http://x.test/m.js\"></script></head>"),
       "differs"},
      {"frame", replaced("</body>", "<iframe src=\"http://x.test/\"></iframe></body>"), "differs"},
      {"meta refresh",
       replaced("</head>", "<meta http-equiv=\"refresh\" content=\"0;url=http://x.test/\"></head>"),
       "differs"},
      {"event attribute", replaced("<body", "<body onload=\"alert(1)\""), "differs"},
      {"a card of other words",
       replaced("og:description\" content=\"", "og:description\" content=\"快来领红包 "),
       "differs"},
      {"a card of another picture", replaced("/biaobai/cards/style5.jpg", "/biaobai/fg5/chat.png"),
       "differs"},
      {"a card of a picture from elsewhere",
       replaced(PublicOrigin(host) + "/biaobai/cards/style5.jpg", "https://x.test/qr.jpg"),
       "differs"},
      {"script address", replaced("/biaobai/fg5/mv.mp4", "x\" src=\"javascript:alert(1)"),
       "differs"},
      {"script in markup", replaced("<b>加粗</b>", "<img src=x onerror=alert(1)>"), "Text11(17)"},
      {"overlay in markup",
       replaced("<b>加粗</b>",
                "<div style=\"opacity:0.99; background-color:#fff; margin:-1400px -3000px 0 "
                "-3000px; padding:1400px 3000px 3000px 3000px\">【QQ安全中心】</div>"),
       "Text11(17)"},
      {"fixed box in markup",
       replaced("<b>加粗</b>", "<div style=\"position: fixed; top: 0\">【QQ安全中心】</div>"),
       "Text11(17)"},
      {"giant letters in markup",
       replaced("<b>加粗</b>", "<span style=\"font-size: 900px\">【QQ安全中心】</span>"),
       "Text11(17)"},
      {"a shadow far away in markup",
       replaced("<b>加粗</b>", "<span style=\"text-shadow: 0 -900px 0 red\">x</span>"),
       "Text11(17)"},
      {"a thick line in markup",
       replaced("<b>加粗</b>", "<u style=\"text-decoration: underline 3000px\">x</u>"),
       "Text11(17)"},
      {"big letters nested in markup",
       replaced("<b>加粗</b>", "<big><big><big><big>x</big></big></big></big>"), "Text11(17)"},
      {"script as a value",
       replaced("<title>风格5</title>", "<title>风格5</title><script>alert(1)</script>"),
       "differs"},
      {"another site", "<!DOCTYPE html>\n<html><body>微信登录已过期</body></html>", "not one"},
      {"markup in the question", changed("做我女朋友好吗？", "<img src=x onerror=alert(1)>"),
       "differs"},
      {"the question's script changed", changed("post(\"/api/answer/\"", "post(\"/api/x/\""),
       "differs"},
      {"an answer sent elsewhere", changed("data-answer=\"1\"", "data-answer=\"3\""), "differs"},
      {"the part of another style", changed("data-style=\"1\"", "data-style=\"7\""), "differs"},
      {"the part in the head", changed("</head>", std::string(QuestionTemplate(1)) + "</head>"),
       "differs"},
      {"another host", Build(1, default_fields, "elsewhere.test"), "another publishing host"},
      {"cut short", page.substr(0, page.size() / 2), "differs"},
      {"empty", "", "not one"},
  };
  for (const auto& c : cases) {
    const PageCheck check = CheckPage(c.page, host);
    EXPECT_FALSE(check.genuine) << c.what;
    EXPECT_NE(check.refusal.find(c.says), std::string::npos) << c.what << ": " << check.refusal;
    EXPECT_EQ(check.refusal.find('\n'), std::string::npos) << c.what;
  }
}

}  // namespace
}  // namespace heartpage::server
