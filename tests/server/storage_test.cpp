// The SQLite storage driven directly: what must hold whatever the HTTP side.

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <latch>
#include <thread>

#include "server/caching_storage.h"
#include "server/sqlite_storage.h"
#include "tests/server/server_harness.h"

namespace heartpage::server {
namespace {

class StorageTest : public ::testing::Test {
 protected:
  std::filesystem::path File() const { return dir_.path() / "test.sqlite3"; }
  testing::ScratchDir dir_;
};

TEST_F(StorageTest, ClaimsAndPagesPersistAcrossReopening) {
  {
    SqliteStorage storage(File());
    EXPECT_EQ(storage.ClaimName("m1", "first"), ClaimResult::kClaimed);
    EXPECT_EQ(storage.ClaimName("m1", "second"), ClaimResult::kClaimed);
    EXPECT_EQ(storage.ClaimName("m2", "first"), ClaimResult::kTaken);
    EXPECT_EQ(storage.StorePage("m1", "first", std::string("a\0b", 3)), StoreResult::kStored);
    EXPECT_EQ(storage.StorePage("m1", "nobody", "x"), StoreResult::kUnclaimed);
    EXPECT_EQ(storage.StorePage("m2", "first", "x"), StoreResult::kNotOwner);
    storage.UpdateSettings(
        {.announcement = "hello", .version_label = std::nullopt, .download_url = std::nullopt});
  }
  SqliteStorage storage(File());
  const auto mine = storage.ClaimsOfMachine("m1");
  ASSERT_EQ(mine.size(), 2u);
  EXPECT_EQ(mine[0].name, "first");  // claim order
  EXPECT_EQ(mine[1].name, "second");
  EXPECT_EQ(mine[0].claimed_at.size(), 19u);
  EXPECT_TRUE(storage.ClaimsOfMachine("m2").empty());
  EXPECT_EQ(storage.ClaimsOfName("first").at(0).machine_id, "m1");
  EXPECT_TRUE(storage.ClaimsOfName("First").empty());

  const auto page = storage.LoadPage("first");
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->bytes, std::string("a\0b", 3));
  EXPECT_FALSE(page->etag.empty());
  EXPECT_EQ(storage.LoadPage("second"), nullptr);
  EXPECT_EQ(storage.LoadPage("nobody"), nullptr);

  const SiteSettings settings = storage.LoadSettings();
  EXPECT_EQ(settings.announcement, "hello");
  EXPECT_FALSE(settings.version_label.has_value());
  EXPECT_EQ(storage.IntegrityCheck(), "ok");
}

TEST_F(StorageTest, SettingsChangeOnlyTheGivenFields) {
  SqliteStorage storage(File());
  storage.UpdateSettings({.announcement = "a", .version_label = "V2", .download_url = "u"});
  storage.UpdateSettings(
      {.announcement = std::nullopt, .version_label = "V3", .download_url = std::nullopt});
  const SiteSettings settings = storage.LoadSettings();
  EXPECT_EQ(settings.announcement, "a");
  EXPECT_EQ(settings.version_label, "V3");
  EXPECT_EQ(settings.download_url, "u");
}

TEST_F(StorageTest, ReplacingAPageChangesItsValidator) {
  SqliteStorage storage(File());
  ASSERT_EQ(storage.ClaimName("m", "p"), ClaimResult::kClaimed);
  ASSERT_EQ(storage.StorePage("m", "p", "one"), StoreResult::kStored);
  const std::string first = storage.LoadPage("p")->etag;
  ASSERT_EQ(storage.StorePage("m", "p", "two"), StoreResult::kStored);
  EXPECT_NE(storage.LoadPage("p")->etag, first);
  EXPECT_EQ(storage.LoadPage("p")->bytes, "two");
}

// Two storages on one file stand for two server processes.
TEST_F(StorageTest, ConcurrentClaimsFromSeveralConnectionsHaveOneWinner) {
  SqliteStorage a(File());
  SqliteStorage b(File());
  constexpr int kThreads = 16;
  std::latch start(kThreads);
  std::atomic<int> winners = 0;
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      SqliteStorage& storage = i % 2 == 0 ? a : b;
      start.arrive_and_wait();
      if (storage.ClaimName("m" + std::to_string(i), "same") == ClaimResult::kClaimed) ++winners;
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(winners, 1);
  EXPECT_EQ(a.ClaimsOfName("same").size(), 1u);
}

TEST_F(StorageTest, RefusesAFileThatIsNotADatabase) {
  std::ofstream(File()) << "this is not a database, just some text that is long enough";
  EXPECT_THROW(SqliteStorage{File()}, StorageError);
}

}  // namespace
}  // namespace heartpage::server

namespace heartpage::server {
namespace {

std::string FileContents(const PageFile& file, std::size_t size) {
  std::string bytes(size, '\0');
  EXPECT_EQ(pread(file.fd(), bytes.data(), size, 0), static_cast<ssize_t>(size));
  return bytes;
}

TEST_F(StorageTest, CacheServesTheLatestStoreAndFilesHoldThePage) {
  SqliteStorage database(File());
  CachingStorage cache(database, 1024 * 1024);
  ASSERT_EQ(cache.ClaimName("m", "p"), ClaimResult::kClaimed);
  ASSERT_EQ(cache.StorePage("m", "p", "one"), StoreResult::kStored);
  const auto first = cache.LoadPage("p");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(cache.LoadPage("p"), first);  // now from memory
  ASSERT_TRUE(first->file.valid());
  EXPECT_EQ(FileContents(first->file, 3), "one");

  ASSERT_EQ(cache.StorePage("m", "p", "two"), StoreResult::kStored);
  EXPECT_EQ(cache.LoadPage("p")->bytes, "two");
  EXPECT_EQ(first->bytes, "one");  // a reader still sending the old page keeps it whole

  // Too large to cache: read from the database every time, still correct.
  const std::string big(200 * 1024, 'b');
  ASSERT_EQ(cache.StorePage("m", "p", big), StoreResult::kStored);
  EXPECT_EQ(cache.LoadPage("p")->bytes, big);
  EXPECT_FALSE(cache.LoadPage("p")->file.valid());
  EXPECT_EQ(cache.LoadPage("nothing"), nullptr);
}

TEST_F(StorageTest, CacheNeverServesAPageOlderThanAnAcknowledgedStore) {
  SqliteStorage database(File());
  CachingStorage cache(database, 1024 * 1024);
  ASSERT_EQ(cache.ClaimName("m", "p"), ClaimResult::kClaimed);
  ASSERT_EQ(cache.StorePage("m", "p", "0"), StoreResult::kStored);
  std::atomic<int> acknowledged = 0;
  std::atomic<bool> stale = false;
  std::atomic<bool> done = false;
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&] {
      while (!done) {
        const int floor = acknowledged;
        if (std::stoi(cache.LoadPage("p")->bytes) < floor) stale = true;
      }
    });
  }
  for (int i = 1; i <= 200; ++i) {
    ASSERT_EQ(cache.StorePage("m", "p", std::to_string(i)), StoreResult::kStored);
    acknowledged = i;
  }
  done = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_FALSE(stale);
  EXPECT_EQ(cache.LoadPage("p")->bytes, "200");
}

}  // namespace
}  // namespace heartpage::server
