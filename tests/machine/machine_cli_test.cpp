// Runs `heartpage-cli machine-id` as start-up and the upload dialog rely on it.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

CliRun MachineId(const std::string& extra = "") {
  const fs::path dir =
      fs::temp_directory_path() / ("heartpage-machine-cli-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string command = std::string(HEARTPAGE_CLI) + " machine-id" + extra + " >" +
                              (dir / "out").string() + " 2>" + (dir / "err").string();
  CliRun run;
  const int raw = std::system(command.c_str());
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = ReadFile(dir / "out");
  run.err = ReadFile(dir / "err");
  fs::remove_all(dir);
  return run;
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
  const CliRun run = MachineId(" extra");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("machine-id"), std::string::npos) << run.err;
}

}  // namespace
