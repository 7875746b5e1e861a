#include "preview/preview.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <vector>

#include "tests/support/server_process.h"

namespace heartpage {
namespace {

namespace fs = std::filesystem;

using heartpage::testing::ReadFile;

class PreviewTest : public ::testing::Test {
 protected:
  // A test may take the folder's permissions away; the folder goes anyway.
  void TearDown() override {
    fs::permissions(directory_, fs::perms::owner_all, fs::perm_options::add);
  }

  // Hooks that record what was opened and what the file held meanwhile,
  // without a browser and without waiting.
  PreviewHooks Recording(const fs::path& directory) {
    PreviewHooks hooks;
    hooks.directory = [directory] { return directory; };
    hooks.open = [this](const std::string& target) {
      opened_.push_back(target);
      return true;
    };
    hooks.wait = [this](std::chrono::milliseconds duration, const std::function<void()>& then) {
      waited_.push_back(duration);
      seen_during_wait_.push_back(ReadFile(opened_.back()));
      if (during_wait_) std::exchange(during_wait_, nullptr)();
      then();
    };
    return hooks;
  }

  heartpage::testing::TempDir scratch_;
  const fs::path directory_ = scratch_.path();
  std::vector<std::string> opened_;
  std::vector<std::chrono::milliseconds> waited_;
  std::vector<std::string> seen_during_wait_;
  std::function<void()> during_wait_;
};

TEST(PreviewBytes, GbkWithExactlyOneCrLf) {
  EXPECT_EQ(PreviewBytes("中a"),
            "\xD6\xD0"
            "a\r\n");
  EXPECT_EQ(PreviewBytes("line\r\n"), "line\r\n\r\n");
  EXPECT_EQ(PreviewBytes(""), "\r\n");
  // What GBK lacks keeps its GB18030 bytes instead of becoming "?".
  EXPECT_EQ(PreviewBytes("❤"), "\x81\x37\xC5\x38\r\n");
}

TEST_F(PreviewTest, WritesOpensWaitsFiveSecondsAndDeletes) {
  EXPECT_EQ(WritePreview("<p>我爱你</p>", Recording(directory_)), std::nullopt);
  const fs::path file = directory_ / "yl.htm";
  ASSERT_EQ(opened_, std::vector<std::string>{file.string()});
  EXPECT_EQ(waited_, std::vector<std::chrono::milliseconds>{std::chrono::seconds(5)});
  EXPECT_EQ(seen_during_wait_.at(0), "<p>\xCE\xD2\xB0\xAE\xC4\xE3</p>\r\n");
  EXPECT_FALSE(fs::exists(file));
}

// The frame page is what opens; it holds the page file beside it in a
// phone-sized frame, and both go when the wait ends.
TEST_F(PreviewTest, ThePhonePreviewFramesThePageAtPhoneSizeAndCleansUp) {
  PreviewHooks hooks = Recording(directory_);
  std::string page_during_wait;
  during_wait_ = [&] { page_during_wait = ReadFile(directory_ / "yl.htm"); };
  EXPECT_EQ(WritePhonePreview("<p>我爱你</p>", hooks), std::nullopt);
  ASSERT_EQ(opened_, std::vector<std::string>{(directory_ / "yl-phone.htm").string()});
  EXPECT_EQ(page_during_wait, "<p>\xCE\xD2\xB0\xAE\xC4\xE3</p>\r\n");
  const std::string& frame = seen_during_wait_.at(0);
  EXPECT_NE(frame.find("<meta charset=\"utf-8\">"), std::string::npos);
  EXPECT_NE(frame.find("src=\"yl.htm\""), std::string::npos) << frame;
  EXPECT_NE(frame.find("width: 390px; height: 844px;"), std::string::npos) << frame;
  EXPECT_EQ(waited_, std::vector<std::chrono::milliseconds>{std::chrono::seconds(5)});
  EXPECT_FALSE(fs::exists(directory_ / "yl.htm"));
  EXPECT_FALSE(fs::exists(directory_ / "yl-phone.htm"));
}

TEST_F(PreviewTest, WorksInADirectoryWithAChineseName) {
  const fs::path chinese = directory_ / "临时文件夹";
  fs::create_directories(chinese);
  EXPECT_EQ(WritePreview("x", Recording(chinese)), std::nullopt);
  EXPECT_EQ(opened_.at(0), (chinese / "yl.htm").string());
  EXPECT_EQ(seen_during_wait_.at(0), "x\r\n");
}

TEST_F(PreviewTest, TruncatesAnOlderFile) {
  std::ofstream(directory_ / "yl.htm") << std::string(1000, 'o');
  WritePreview("new", Recording(directory_));
  EXPECT_EQ(seen_during_wait_.at(0), "new\r\n");
}

TEST_F(PreviewTest, APreviewStartedDuringTheWaitKeepsItsFileUntilItsOwnWaitEnds) {
  during_wait_ = [this] { EXPECT_EQ(WritePreview("second", Recording(directory_)), std::nullopt); };
  EXPECT_EQ(WritePreview("first", Recording(directory_)), std::nullopt);
  ASSERT_EQ(seen_during_wait_.size(), 2u);
  EXPECT_EQ(seen_during_wait_[1], "second\r\n");
  EXPECT_FALSE(fs::exists(directory_ / "yl.htm"));
}

TEST_F(PreviewTest, APreviewOfAnotherProgramWrittenDuringTheWaitIsNotDeleted) {
  const fs::path file = directory_ / "yl.htm";
  during_wait_ = [&] {
    // Another program's preview replaces the file, as ours do.
    std::ofstream(directory_ / "other.tmp") << "other";
    fs::rename(directory_ / "other.tmp", file);
  };
  EXPECT_EQ(WritePreview("first", Recording(directory_)), std::nullopt);
  EXPECT_EQ(ReadFile(file), "other");
}

TEST_F(PreviewTest, LeavesNoTemporaryFilesBehind) {
  WritePreview("page", Recording(directory_));
  WritePreview("page", Recording(directory_));
  EXPECT_TRUE(fs::is_empty(directory_));
}

TEST_F(PreviewTest, AnUnwritableDirectoryStopsThePreviewWithAMessage) {
  const fs::path missing = directory_ / "does-not-exist";
  const auto error = WritePreview("page", Recording(missing));
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->find("yl.htm"), std::string::npos) << *error;
  EXPECT_TRUE(opened_.empty());
  EXPECT_TRUE(waited_.empty());

  if (::geteuid() != 0) {  // root writes anywhere
    fs::permissions(directory_, fs::perms::owner_write, fs::perm_options::remove);
    EXPECT_TRUE(WritePreview("page", Recording(directory_)).has_value());
  }
}

// Sets an environment variable (or unsets it, for nullptr) for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* saved = std::getenv(name)) saved_ = saved;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedEnv() { saved_ ? setenv(name_, saved_->c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

// Another local user plants "yl.htm" in the shared temporary folder as a
// link to a file of ours: no preview writes through it. The shared folder is
// refused outright; by default the preview goes to a folder of this user's
// own in it, where even a link at the name is replaced, not followed; and
// that folder is refused when it is a link or someone else's.
TEST_F(PreviewTest, APlantedLinkIsNeverFollowed) {
  const fs::path shared = directory_ / "tmp";
  fs::create_directory(shared);
  fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
  const fs::path victim = directory_ / "victim.txt";
  std::ofstream(victim) << "precious";
  fs::create_symlink(victim, shared / "yl.htm");

  const auto refused = WritePreview("page", Recording(shared));
  ASSERT_TRUE(refused.has_value());
  EXPECT_NE(refused->find(shared.string()), std::string::npos) << *refused;
  EXPECT_TRUE(opened_.empty());

  const ScopedEnv tmpdir("TMPDIR", shared.c_str());
  const ScopedEnv runtime("XDG_RUNTIME_DIR", nullptr);
  PreviewHooks hooks = Recording(shared);
  hooks.directory = nullptr;
  const fs::path own = shared / ("heartpage-" + std::to_string(::geteuid()));
  const fs::path file = own / "yl.htm";
  during_wait_ = [&] {
    EXPECT_EQ(fs::status(own).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::symlink_status(file).type(), fs::file_type::regular);
    EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  };
  EXPECT_EQ(WritePreview("page", hooks), std::nullopt);
  EXPECT_EQ(opened_.back(), file.string());
  fs::create_symlink(victim, file);
  EXPECT_EQ(WritePreview("page", hooks), std::nullopt);
  EXPECT_EQ(seen_during_wait_.back(), "page\r\n");
  EXPECT_EQ(ReadFile(victim), "precious");
  EXPECT_TRUE(fs::is_symlink(shared / "yl.htm"));

  fs::remove_all(own);
  fs::create_directory(directory_ / "elsewhere");
  fs::create_directory_symlink(directory_ / "elsewhere", own);
  EXPECT_TRUE(WritePreview("page", hooks).has_value());
  if (::geteuid() == 0) {  // only root can give a folder away
    fs::remove(own);
    fs::create_directory(own);
    ASSERT_EQ(::chown(own.c_str(), 65534, 65534), 0);
    EXPECT_TRUE(WritePreview("page", hooks).has_value());
  }
  EXPECT_EQ(opened_.size(), 2u);
  EXPECT_TRUE(fs::is_empty(directory_ / "elsewhere"));
  EXPECT_EQ(ReadFile(victim), "precious");
}

}  // namespace
}  // namespace heartpage
