#include "pages/builders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "pages/styles.h"
#include "pages/substitution.h"
#include "pages/templates.h"
#include "protocol/host.h"

namespace heartpage {
namespace {

// The non-overlapping occurrences of `key` in `text`.
std::size_t CountOccurrences(std::string_view text, std::string_view key) {
  std::size_t count = 0;
  for (std::size_t hit = text.find(key); !key.empty() && hit != std::string_view::npos;
       hit = text.find(key, hit + key.size()))
    ++count;
  return count;
}

std::string Build(int style, const FieldMap& fields) {
  return BuildPage(style, fields);
}

FieldMap Defaults(int style) {
  return FieldMap::Defaults(GetStyle(style));
}

// The page without its link card's lines, which tell of the fields again.
std::string WithoutCard(std::string page) {
  const std::size_t start = page.find("<meta name=\"description\"");
  const std::size_t image = page.find("<meta property=\"og:image\"", start);
  if (start == std::string::npos || image == std::string::npos) return page;
  return page.erase(start, page.find('\n', image) + 1 - start);
}

// A value that no template, key or other marker contains, and that every
// place writes unchanged (a colour must be one to be written at all).
std::string Marker(const FieldRow& row, std::size_t i) {
  if (row.kind == FieldKind::kColour)
    return "#5EED" + std::string(1, "0123456789ABCDEF"[i / 16]) + "0123456789ABCDEF"[i % 16];
  return "zq" + std::to_string(i) + "qz";
}

TEST(Builders, EveryKeyOccursAsOftenAsItsTableSaysAndNoneRemains) {
  for (int n = 1; n <= kStyleCount; ++n) {
    const Style& style = GetStyle(n);
    for (bool ticked : {false, true}) {
      if (ticked && !style.has_check) continue;
      FieldMap fields;
      fields.checked = ticked;
      for (std::size_t i = 0; i < style.rows.size(); ++i)
        fields.values[style.rows[i].Name()] = Marker(style.rows[i], i);
      const std::string page = WithoutCard(Build(n, fields));
      for (std::size_t i = 0; i < style.rows.size(); ++i) {
        const FieldRow& row = style.rows[i];
        // The floating picture's two keys live in the snippet only.
        const bool in_snippet = style.has_check && i < 2;
        const int expected = in_snippet && !ticked ? 0 : row.times;
        EXPECT_EQ(CountOccurrences(page, Marker(row, i)), static_cast<std::size_t>(expected))
            << "style " << n << (ticked ? " ticked" : "") << ", key " << row.key;
        EXPECT_EQ(CountOccurrences(page, row.key), 0u) << "style " << n << " left " << row.key;
      }
    }
  }
}

// Written for their places, the defaults still come out as they were typed:
// a default page is the template with its keys replaced, byte for byte, and
// so is the floating picture where it is added; the link card's lines before
// the end of the head are all a default page adds.
TEST(Builders, DefaultPagesAreTheTemplatesWithTheDefaultsAsTyped) {
  for (int n = 1; n <= kStyleCount; ++n) {
    const Style& style = GetStyle(n);
    std::string raw(StyleTemplate(n)), snippet(FloatingPictureTemplate());
    for (const FieldRow& row : style.rows) {
      ReplaceAll(raw, row.key, row.DefaultValue());
      ReplaceAll(snippet, row.key, row.DefaultValue());
    }
    FieldMap fields = Defaults(n);
    const std::string page = Build(n, fields);
    EXPECT_EQ(WithoutCard(page), raw) << "style " << n;
    EXPECT_EQ(page.find("<meta name=\"description\""), raw.find("</head>")) << "style " << n;
    if (!style.has_check) continue;
    fields.checked = true;
    EXPECT_NE(Build(n, fields).find(snippet), std::string::npos) << "style " << n << " ticked";
  }
}

// Whatever a text field holds stays inside its place: no value ends a script
// or an attribute or opens a tag, in any style, and the builder never fails.
TEST(Builders, NoTextValueLeavesItsPlace) {
  const std::string hostile = "他说\"我爱你\"，it's </script><b>\r\n\u2028`${x}` */ -->";
  for (int n = 1; n <= kStyleCount; ++n) {
    const Style& style = GetStyle(n);
    const std::string base = Build(n, Defaults(n));
    for (const FieldRow& row : style.rows) {
      if (row.kind != FieldKind::kText) continue;
      FieldMap fields = Defaults(n);
      fields.values[row.Name()] = hostile;
      const std::string page = Build(n, fields);
      for (const char* token : {"</script", "<b>", "-->"})
        EXPECT_EQ(CountOccurrences(page, token), CountOccurrences(base, token))
            << "style " << n << " " << row.Name() << " adds " << token;
    }
  }
}

TEST(Builders, DefaultsLeaveNoKeyBehind) {
  for (int n = 1; n <= kStyleCount; ++n) {
    const std::string page = Build(n, Defaults(n));
    for (const FieldRow& row : GetStyle(n).rows)
      EXPECT_EQ(CountOccurrences(page, row.key), 0u) << "style " << n << " left " << row.key;
    EXPECT_EQ(Build(n, Defaults(n)), page) << "repeated builds of style " << n << " differ";
  }
}

TEST(Builders, CheckBoxPutsTheFloatingPictureAtTheEndOfTheBody) {
  for (int n : {2, 3}) {
    FieldMap fields = Defaults(n);
    EXPECT_TRUE(Build(n, fields).starts_with("<!DOCTYPE")) << n;
    fields.checked = true;
    const std::string page = Build(n, fields);
    EXPECT_TRUE(page.starts_with("<!DOCTYPE")) << n;
    const std::size_t picture = page.find("id=\"floatPicture\"");
    EXPECT_LT(page.rfind("<body", picture), picture) << n;
    EXPECT_LT(picture, page.find("</body>")) << n;
    EXPECT_NE(page.find(fields.Value(n == 2 ? "Text1(6)" : "Text1(20)")), std::string::npos);
  }
  // Other styles have no check box: ticking it changes nothing.
  FieldMap fields = Defaults(1);
  const std::string unticked = Build(1, fields);
  fields.checked = true;
  EXPECT_EQ(Build(1, fields), unticked);
}

// A question adds its part before the end of the body and changes nothing
// else; a blank one adds nothing. Its texts stay in their place, whatever
// they hold, and no style's key reaches into them, nor theirs into the page.
TEST(Builders, AQuestionAddsOnlyItsPartAndABlankOneNothing) {
  const std::string hostile = "</script><b>第1行 问TA一句\"'";
  for (int n = 1; n <= kStyleCount; ++n) {
    for (bool ticked : {false, true}) {
      if (ticked && !GetStyle(n).has_check) continue;
      FieldMap plain = Defaults(n);
      plain.checked = ticked;
      const std::string page = Build(n, plain);
      FieldMap blank = plain;
      blank.values["Question"] = " \t\u3000 ";
      blank.values["Answer1"] = "好";
      EXPECT_EQ(Build(n, blank), page) << "style " << n;

      FieldMap asking = plain;
      asking.values["Question"] = "  " + hostile + " ";
      asking.values["Answer1"] = "TA的回答二";
      asking.values["Answer2"] = "";
      const std::string asked = Build(n, asking);
      const std::size_t at = asked.find("<div id=\"hpq\"");
      ASSERT_NE(at, std::string::npos) << "style " << n;
      const std::size_t end = asked.rfind("</body>");
      EXPECT_EQ(std::string(asked).erase(at, end - at), page) << "style " << n;
      const std::string part = asked.substr(at, end - at);
      EXPECT_NE(part.find("data-style=\"" + std::to_string(n) + "\""), std::string::npos);
      EXPECT_NE(part.find(">&lt;/script&gt;&lt;b&gt;第1行 问TA一句\"'</p>"), std::string::npos)
          << "style " << n;
      EXPECT_NE(part.find("aria-pressed=\"false\">TA的回答二</button>"), std::string::npos);
      EXPECT_NE(part.find("aria-pressed=\"false\">让我想想</button>"), std::string::npos);
      EXPECT_EQ(CountOccurrences(part, "</script"), 1u) << "style " << n;
    }
  }
}

// Every text a sender may type holding every key of its style, and the
// date words 年, 月 and 日, reaches the page as typed, in every place its
// own key stands, and changes nothing else: no later row reads it again.
TEST(Builders, AValueHoldingKeysShowsAsTyped) {
  for (int n = 1; n <= kStyleCount; ++n) {
    const Style& style = GetStyle(n);
    std::string keys = "那年夏天，生日快乐，月月年年日日";
    for (const FieldRow& row : style.rows) keys += "·" + row.key;
    for (std::size_t i = 0; i < style.rows.size(); ++i) {
      const FieldRow& row = style.rows[i];
      if (row.kind != FieldKind::kText && row.kind != FieldKind::kMarkup) continue;
      FieldMap typed = Defaults(n), marked = Defaults(n);
      typed.checked = marked.checked = style.has_check;
      typed.values[row.Name()] = keys;
      marked.values[row.Name()] = Marker(row, i);
      std::string page = WithoutCard(Build(n, typed));
      EXPECT_EQ(CountOccurrences(page, keys), static_cast<std::size_t>(row.times))
          << "style " << n << " " << row.Name();
      for (std::size_t at = page.find(keys); at != std::string::npos; at = page.find(keys, at))
        page.replace(at, keys.size(), Marker(row, i));
      EXPECT_EQ(page, WithoutCard(Build(n, marked))) << "style " << n << " " << row.Name();
    }
  }
  // A loop style's own keys, leading zeros and all.
  FieldMap eight = Defaults(8);
  eight.values["Text1(2)"] = "[第5张][第05张]";
  EXPECT_NE(Build(8, eight).find("[第5张][第05张]"), std::string::npos);
}

TEST(Builders, EachValueIsWrittenForItsPlace) {
  FieldMap one = Defaults(1);
  one.values["Text1(5)"] = "say \"hi\"\r\n</script>";  // a script string
  one.values["Text1(6)"] = "it's";                     // a script string in an attribute
  one.values["Text1(1)"] = "<i>A & B</i>\r\nC";        // HTML text
  one.values["Text1(0)"] = "</title>";                 // the title
  one.values["Text1(7)"] = "javascript:alert(1)";      // an address
  one.values["Text1(8)"] = " https://example.org/a?b=1&c=\"2\" ";
  const std::string page = Build(1, one);
  EXPECT_NE(page.find("\"say \\u0022hi\\u0022\\r\\n\\u003c/script\\u003e  \""), std::string::npos);
  EXPECT_NE(page.find("('it\\u0027s')"), std::string::npos);
  EXPECT_NE(page.find("&lt;i&gt;A &amp; B&lt;/i&gt;<br>C，"), std::string::npos);
  EXPECT_NE(page.find("<title>&lt;/title&gt;</title>"), std::string::npos);
  EXPECT_NE(page.find("src=\"\" data-src=\"\""), std::string::npos);
  EXPECT_NE(page.find("data-address=\"https://example.org/a?b=1&amp;c=&quot;2&quot;\""),
            std::string::npos);
  // Two slashes either way round lead to another host, not into this site.
  one.values["Text1(8)"] = " /\\evil.example/";
  EXPECT_NE(Build(1, one).find("data-address=\"\""), std::string::npos);

  // Style 5: the number is part of an address; the dates of style 2 are
  // numbers of a script, or else a string that keeps the script running.
  FieldMap five = Defaults(5);
  five.values["Text11(8)"] = "1/2#x";
  EXPECT_NE(Build(5, five).find("http://1%2F2%23x.qzone"), std::string::npos);
  FieldMap two = Defaults(2);
  two.values["Text1(4)"] = " 2014 ";
  two.values["Text1(9)"] = "五);alert(1";
  EXPECT_NE(Build(2, two).find("new Date(2014, \"五);alert(1\", 20)"), std::string::npos);
}

// Both colours of style 4 reach its style rules as "#RGB" or "#RRGGBB",
// whether typed with their "#" or without; what is no colour keeps the
// default.
TEST(Builders, ColoursAreWrittenWithOneHash) {
  FieldMap four = Defaults(4);
  EXPECT_NE(Build(4, four).find("color: #FFF;"), std::string::npos);
  four.values["Text8(43)"] = "00ff00";
  four.values["Text8(44)"] = " #F00 ";
  std::string page = Build(4, four);
  EXPECT_EQ(CountOccurrences(page, "background: #00ff00;"), 2u);
  EXPECT_NE(page.find("color: #F00;"), std::string::npos);
  four.values["Text8(43)"] = "red; } body { display: none";
  four.values["Text8(44)"] = "#12345";
  page = Build(4, four);
  EXPECT_EQ(CountOccurrences(page, "background: #B85C00;"), 2u);
  EXPECT_NE(page.find("color: #FFF;"), std::string::npos);
}

// The boxes meant for HTML keep their formatting tags, closed; a text
// typed without any has its lines kept as lines.
TEST(Builders, MarkupBoxesKeepTheirTagsAndTheirLines) {
  FieldMap two = Defaults(2);
  two.values["Text1(2)"] = "第一行\r\n第二行 <3";
  EXPECT_NE(Build(2, two).find("第一行<br>第二行 &lt;3"), std::string::npos);
  FieldMap five = Defaults(5);
  five.values["Text11(17)"] = "<b onclick=\"x()\">粗\r\n<script>x()</script><font color=red>红";
  EXPECT_NE(Build(5, five).find(
                "<b>粗\r\n&lt;script&gt;x()&lt;/script&gt;<font color=\"red\">红</font></b>"),
            std::string::npos);
}

// A chat's card: the title, the first line of the message (escaped for an
// attribute, at most 100 characters) but for a name, the first picture
// shown when it is hers and can be loaded from anywhere, else the style's
// artwork on the site, also for the site's own picture.
TEST(Builders, TheLinkCardTellsOfTheTitleTheFirstLineAndAPicture) {
  const auto card = [](const std::string& page) {
    const std::size_t start = page.find("<meta name=\"description\"");
    return page.substr(start, page.find("</head>") - start);
  };
  const std::string site = BindHost("http://{publishing-host}");
  FieldMap one = Defaults(1);
  one.values["Text1(0)"] = "给\"你\"";
  // Her name, first in the editor, is no line of the card's.
  one.values["Text1(1)"] = "晓雨";
  one.values["Text1(2)"] = "  \r\n<b>A & B</b>\r\nnext";
  EXPECT_EQ(card(Build(1, one)),
            "<meta name=\"description\" content=\"A &amp; B\">\r\n"
            "<meta property=\"og:type\" content=\"website\">\r\n"
            "<meta property=\"og:title\" content=\"给&quot;你&quot;\">\r\n"
            "<meta property=\"og:description\" content=\"A &amp; B\">\r\n"
            "<meta property=\"og:image\" content=\"" +
                site + "/biaobai/cards/style1.jpg\">\r\n");
  one.values["Text1(7)"] = "me.jpg";
  one.values["Text1(2)"] = std::string(120, 'x');
  const std::string relative = card(Build(1, one));
  EXPECT_NE(relative.find("og:image\" content=\"" + site + "/biaobai/cards/style1.jpg\""),
            std::string::npos);
  EXPECT_NE(relative.find("content=\"" + std::string(100, 'x') + "\""), std::string::npos);
  // Style 2 shows its picture only with the check box ticked.
  FieldMap two = Defaults(2);
  two.values["Text1(6)"] = "https://pic.example/a.jpg";
  EXPECT_NE(card(Build(2, two)).find("/biaobai/cards/style2.jpg"), std::string::npos);
  two.checked = true;
  EXPECT_NE(card(Build(2, two)).find("content=\"https://pic.example/a.jpg\""), std::string::npos);
  // Nor is a heading over her words, a card greeting her, a cover with the
  // story's two names.
  EXPECT_NE(card(Build(3, Defaults(3))).find("og:description\" content=\"// 不经意相识"),
            std::string::npos);
  EXPECT_NE(card(Build(4, Defaults(4))).find("og:description\" content=\"西湖\""),
            std::string::npos);
  EXPECT_NE(card(Build(7, Defaults(7))).find("og:description\" content=\"从前，森林里"),
            std::string::npos);
  // A value naming a card's key is itself there, as in the page.
  FieldMap seven = Defaults(7);
  seven.values["Text1(78)"] = "卡片文字";
  EXPECT_NE(card(Build(7, seven)).find("og:title\" content=\"卡片文字\""), std::string::npos);
  // Each style's artwork is as large as chats show sharp, 1.91:1.
  for (int n = 1; n <= kStyleCount; ++n) {
    std::ifstream file(
        std::string(std::getenv("HEARTPAGE_ASSETS")) + "/cards/style" + std::to_string(n) + ".jpg",
        std::ios::binary);
    const std::string jpeg((std::istreambuf_iterator<char>(file)), {});
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(jpeg[i]); };
    std::size_t at = 2;  // each segment after the start of the image: FF, kind, length
    while (at + 9 < jpeg.size() && !(byte(at + 1) == 0xC0 || byte(at + 1) == 0xC2))
      at += 2 + (byte(at + 2) << 8 | byte(at + 3));
    ASSERT_LT(at + 9, jpeg.size()) << n;
    const int height = byte(at + 5) << 8 | byte(at + 6), width = byte(at + 7) << 8 | byte(at + 8);
    EXPECT_GE(width, 600) << n;
    EXPECT_NEAR(width / static_cast<double>(height), 1.91, 0.02) << n;
  }
}

TEST(Builders, LongValuesAreCarriedWhole) {
  FieldMap fields = Defaults(1);
  const std::string big(1 << 20, 'x');
  fields.values["Text1(2)"] = big;
  const std::string page = Build(1, fields);
  EXPECT_NE(page.find(big), std::string::npos);
  EXPECT_GT(page.size(), big.size());
}

TEST(Builders, UnknownStyleIsAnError) {
  EXPECT_THROW(BuildPage(0, FieldMap()), std::out_of_range);
  EXPECT_THROW(BuildPage(9, FieldMap()), std::out_of_range);
}

}  // namespace
}  // namespace heartpage
