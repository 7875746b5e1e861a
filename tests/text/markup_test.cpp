#include "text/markup.h"

#include <gtest/gtest.h>

namespace heartpage {
namespace {

// The formatting a sender writes survives in one form; anything that could
// run, fetch, hide the page or leave a tag open comes out as text or not at
// all.
TEST(SanitizeMarkup, KeepsFormattingAndDisarmsTheRest) {
  const struct {
    const char* in;
    const char* out;
  } kCases[] = {
      {"a<br>b<BR/>c<br />", "a<br>b<br>c<br>"},
      {"<b>粗</b><I>斜</I><u>线", "<b>粗</b><i>斜</i><u>线</u>"},
      {"<font color=red size=+2 face='楷体' onclick=x()>字</font>",
       "<font color=\"red\" size=\"+2\" face=\"楷体\">字</font>"},
      {"<font color=\"red\\\"onmouseover=x()\">字", "<font>字</font>"},
      {"<span style=\"color:#f00; font-size: 20px;position:fixed\">x</span>",
       "<span style=\"color: #f00; font-size: 20px\">x</span>"},
      {"<span style=\"background-color: rgb(1,2,3); color: url(x)\">x",
       "<span style=\"background-color: rgb(1,2,3)\">x</span>"},
      {"<span style=\"color: u&#114;l(x); font-family: \\75 rl(x)\">x", "<span>x</span>"},
      // Nothing that places a box, or what it draws, beyond the box.
      {"<div style=\"opacity:0.99; background-color:#fff; margin:-1400px -3000px 0 -3000px; "
       "padding:1400px 3000px; border: 900px solid; font-size: 4em; text-decoration: underline "
       "red; font-weight: bold; font-size: 20pt; line-height: 900px; text-indent: -900px\">x",
       "<div style=\"background-color: #fff; text-decoration: underline red; font-weight: bold; "
       "font-size: 20pt\">x</div>"},
      {"<big><big><big><big>x", "<big><big><big>&lt;big&gt;x</big></big></big>"},
      {"&shy;&zwj;&alpha;&#150;", "&shy;&zwj;&amp;alpha;&#150;"},
      {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
      {"<img src=x onerror=alert(1)>", "&lt;img src=x onerror=alert(1)&gt;"},
      {"<a href=\"javascript:x()\">x</a>", "&lt;a href=\"javascript:x()\"&gt;x&lt;/a&gt;"},
      {"<!-- x --><b", "&lt;!-- x --&gt;&lt;b"},
      {"<b <i>x", "&lt;b <i>x</i>"},
      {"<b>1<i>2</b>3</i></u>", "<b>1<i>2</i></b>3"},
      {"&nbsp;&#23435;&#x1F496;&amp &lt", "&nbsp;&#23435;&#x1F496;&amp;amp &amp;lt"},
      {"a > b\r\nc", "a &gt; b\r\nc"},
      {"</div></div>x", "x"},
      {"<font face=\"&quot;楷体&quot;\" color=&#35;f00>x",
       "<font face=\"&quot;楷体&quot;\" color=\"#f00\">x</font>"},
      {"<p align=center>a<p>b<div>c</div></p>", "<p align=\"center\">a</p><p>b</p><div>c</div>"},
  };
  for (const auto& c : kCases) EXPECT_EQ(SanitizeMarkup(c.in).html, c.out) << c.in;
  EXPECT_FALSE(SanitizeMarkup("<q>x</q> & <script>").holds_markup);
  EXPECT_TRUE(SanitizeMarkup("x<br>").holds_markup);
}

TEST(SanitizeMarkup, BoundsNestingAndWork) {
  std::string deep, expected;
  for (int i = 0; i < 100; ++i) deep += "<b>";
  for (int i = 0; i < 32; ++i) expected += "<b>";
  for (int i = 32; i < 100; ++i) expected += "&lt;b&gt;";
  for (int i = 0; i < 32; ++i) expected += "</b>";
  EXPECT_EQ(SanitizeMarkup(deep).html, expected);
  // Unclosed quotes cost no more than their length.
  std::string flood;
  for (int i = 0; i < 200000; ++i) flood += "<b a=\"";
  EXPECT_EQ(SanitizeMarkup(flood).html.find('<'), std::string::npos);
}

// Long values are passed over eight bytes at a time: every special byte is
// found wherever it falls among them, in Chinese text and in ASCII.
TEST(EscapeHtml, FindsEverySpecialByteInLongText) {
  const std::string_view kReferences[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&#39;"};
  const std::string_view kSpecials = "&<>\"'";
  for (const std::string_view filler : {"x", "爱"}) {
    for (std::size_t at = 0; at < 24; ++at) {
      for (std::size_t k = 0; k < kSpecials.size(); ++k) {
        std::string before, after;
        for (std::size_t i = 0; i < at; ++i) before += filler;
        for (std::size_t i = 0; i < 20; ++i) after += filler;
        const std::string text = before + kSpecials[k] + after;
        EXPECT_EQ(EscapeHtml(text), before + std::string(kReferences[k]) + after) << text;
        const std::string unquoted =
            k < 3 ? std::string(kReferences[k]) : std::string(1, kSpecials[k]);
        EXPECT_EQ(EscapeHtml(text, false), before + unquoted + after) << text;
      }
    }
  }
}

}  // namespace
}  // namespace heartpage
