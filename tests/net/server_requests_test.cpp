#include "net/server_requests.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "text/gbk.h"
#include "text/value_encoding.h"

namespace heartpage {
namespace {

TEST(ServerRequestsTest, FetchSettingsSendsTheSettingsQueryAndReadsRecordOne) {
  std::vector<std::string> sent;
  PostResult answer{"いゼ1いsiteいhomeい公告いV1.0いhttp://dl/い", true, 200};
  const Poster post = [&](const std::string& body) {
    sent.push_back(body);
    return answer;
  };

  const auto settings = FetchSettings(post);
  ASSERT_TRUE(settings.has_value());
  ASSERT_GE(settings->size(), 6u);
  EXPECT_EQ((*settings)[3], "公告");
  EXPECT_EQ((*settings)[4], "V1.0");
  EXPECT_EQ((*settings)[5], "http://dl/");
  EXPECT_EQ(sent, std::vector<std::string>{SettingsRequest()});

  // Nothing is kept: every call asks again.
  FetchSettings(post);
  EXPECT_EQ(sent.size(), 2u);

  answer = {"", true, 200};
  EXPECT_EQ(FetchSettings(post), std::nullopt);
  answer = {"", false, 0};
  EXPECT_EQ(FetchSettings(post), std::nullopt);
  answer = {"いゼ1い2い3い4い5い6", false, 500};  // an error page is not a record set
  EXPECT_EQ(FetchSettings(post), std::nullopt);
}

TEST(ServerRequestsTest, FetchOwnedNameAsksByMachineIdentifier) {
  std::string sent;
  PostResult answer{"いゼabc123いmine", true, 200};
  const Poster post = [&](const std::string& body) {
    sent = body;
    return answer;
  };
  EXPECT_EQ(FetchOwnedName("abc123", post), "mine");
  EXPECT_EQ(sent, OwnershipLookupRequest("abc123"));
  answer.ok = false;
  EXPECT_EQ(FetchOwnedName("abc123", post), "");

  // With the page's time when the server gives it; none from an older server.
  answer = {"いゼabc123いmineい2026-01-02 03:04:05い2026-02-03 04:05:06い", true, 200};
  const auto owned = FetchOwnedPage("abc123", post);
  ASSERT_TRUE(owned);
  EXPECT_EQ(owned->name, "mine");
  EXPECT_EQ(owned->stored_at, "2026-02-03 04:05:06");
  answer = {"いゼabc123いmineい2026-01-02 03:04:05い", true, 200};
  EXPECT_EQ(FetchOwnedPage("abc123", post)->stored_at, "");
  answer = {"いゼxyz789いmineい1い2い", true, 200};
  EXPECT_EQ(FetchOwnedPage("abc123", post)->name, "");
  answer = {"", false, 0};
  EXPECT_FALSE(FetchOwnedPage("abc123", post));
}

}  // namespace
}  // namespace heartpage
