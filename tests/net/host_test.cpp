#include "net/host.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace heartpage {
namespace {

class HostTest : public ::testing::Test {
 protected:
  void TearDown() override { unsetenv("HEARTPAGE_HOST"); }
};

TEST_F(HostTest, AddressesFollowTheConfiguredHost) {
  unsetenv("HEARTPAGE_HOST");
  const std::string compiled = PublishingHost();
  EXPECT_FALSE(compiled.empty());
  EXPECT_EQ(EndpointAddress(), "http://" + compiled + "/asp/index.asp");

  setenv("HEARTPAGE_HOST", "pages.example.test:8080", 1);
  EXPECT_EQ(EndpointAddress(), "http://pages.example.test:8080/asp/index.asp");
  EXPECT_EQ(PageAddress("mine"), "http://pages.example.test:8080/Test/mine");
  EXPECT_EQ(HomeAddress(), "http://pages.example.test:8080/");

  setenv("HEARTPAGE_HOST", "", 1);  // empty means not set
  EXPECT_EQ(PublishingHost(), compiled);
}

TEST_F(HostTest, BindHostReplacesEveryToken) {
  setenv("HEARTPAGE_HOST", "h:1", 1);
  EXPECT_EQ(BindHost("http://{publishing-host}/a http://{publishing-host}/b"),
            "http://h:1/a http://h:1/b");
  EXPECT_EQ(BindHost("no token"), "no token");
  EXPECT_EQ(BindHost(""), "");
}

}  // namespace
}  // namespace heartpage
