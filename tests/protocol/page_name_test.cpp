#include "protocol/page_name.h"

#include <gtest/gtest.h>

#include <string>

namespace heartpage {
namespace {

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
