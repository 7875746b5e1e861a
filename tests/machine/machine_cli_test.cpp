// Runs `heartpage-cli machine-id` as start-up and the upload dialog rely on it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/server_process.h"

namespace {

using CliRun = heartpage::testing::RunResult;

CliRun MachineId(std::vector<std::string> extra = {}) {
  extra.insert(extra.begin(), {HEARTPAGE_CLI, "machine-id"});
  return heartpage::testing::RunProgram(extra);
}

TEST(MachineIdCommand, PrintsTheSameIdentifierOnEveryRun) {
  const CliRun first = MachineId();
  const CliRun second = MachineId();
  ASSERT_EQ(first.status, second.status);
  EXPECT_EQ(first.out, second.out);
  if (first.status == 0) {
    EXPECT_EQ(first.err, "");
    ASSERT_GE(first.out.size(), 1u);
    EXPECT_EQ(first.out.back(), '\n');
  } else {
    // A machine without any source: the reason goes to the user, nothing to the output.
    EXPECT_EQ(first.status, 1);
    EXPECT_EQ(first.out, "");
    EXPECT_NE(first.err, "");
  }
}

TEST(MachineIdCommand, TakesNoArguments) {
  const CliRun run = MachineId({"extra"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("machine-id"), std::string::npos) << run.err;
}

}  // namespace
