// The storages driven directly: what must hold whatever the HTTP side.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <fstream>
#include <latch>
#include <map>
#include <thread>

#include "server/site/router.h"
#include "server/site/visitors/previews.h"
#include "server/storage/caching_storage.h"
#include "server/storage/postgres/pg_storage.h"
#include "server/storage/sqlite/sqlite_storage.h"
#include "tests/server/pg_cluster.h"
#include "tests/support/server_harness.h"

namespace heartpage::server {
namespace {

const std::string kKey(MachineIdHasher::kKeyBytes, 'k');

MachineIdHash Id(std::string_view machine_id) {
  return MachineIdHasher(kKey)(machine_id);
}

class SqliteStorageTest : public ::testing::Test {
 protected:
  std::filesystem::path File() const { return dir_.path() / "test.sqlite3"; }
  testing::ScratchDir dir_;
};

enum class Engine { kSqlite, kPostgres };

// What every engine must do alike. Two storages opened on one database stand
// for two server processes.
class StorageTest : public ::testing::TestWithParam<Engine> {
 protected:
  std::unique_ptr<Storage> Open(std::uint64_t page_limit = UINT64_MAX) {
    if (GetParam() == Engine::kSqlite) {
      return std::make_unique<SqliteStorage>(dir_.path() / "test.sqlite3", kKey,
                                             StorageOptions{.page_byte_limit = page_limit});
    }
    if (uri_.empty()) uri_ = testing::PostgresCluster::Shared().NewDatabase();
    return std::make_unique<PostgresStorage>(
        uri_, StorageOptions{.page_byte_limit = page_limit, .connections = 4}, nullptr);
  }
  testing::ScratchDir dir_;
  std::string uri_;
};

INSTANTIATE_TEST_SUITE_P(Engines, StorageTest,
                         ::testing::Values(Engine::kSqlite, Engine::kPostgres),
                         [](const auto& engine) {
                           return engine.param == Engine::kSqlite ? "Sqlite" : "Postgres";
                         });

// The hash is the one thing every store and every database must agree on:
// HMAC-SHA-256 of the identifier's bytes, zero bytes and tabs included.
TEST(MachineIdHashTest, IsHmacSha256UnderTheKey) {
  EXPECT_EQ(Id(std::string_view("WD-1\0\0\tx", 8)).hex(),
            "7ca0f9b0598a80614a0c964f58d02954c2f964b199ccb5887eb7caf3ef344628");
  EXPECT_NE(MachineIdHasher(MachineIdHasher::NewKey())("WD-1"), Id("WD-1"));
  EXPECT_NE(MachineIdHasher::NewKey(), MachineIdHasher::NewKey());
  EXPECT_THROW(MachineIdHasher("short"), std::invalid_argument);
}

TEST_P(StorageTest, ClaimsAndPagesPersistAcrossReopening) {
  MachineIdHash m1, m2;
  {
    auto storage = Open();
    m1 = storage->HashMachineId("m1");
    m2 = storage->HashMachineId("m2");
    EXPECT_EQ(storage->ClaimName(m1, "first"), ClaimResult::kClaimed);
    EXPECT_EQ(storage->ClaimName(m1, "second"), ClaimResult::kClaimed);
    EXPECT_EQ(storage->ClaimName(m2, "first"), ClaimResult::kTaken);
    EXPECT_EQ(storage->StorePage(m1, "first", std::string("a\0b", 3)), StoreResult::kStored);
    // Its first reader compresses it, for every reader after.
    const auto unread = storage->LoadPage("first");
    EXPECT_TRUE(unread->compressed_unknown);
    storage->KeepCompressed("first", unread->etag, std::string("z\0", 2));
    EXPECT_EQ(storage->StorePage(m1, "nobody", "x"), StoreResult::kUnclaimed);
    EXPECT_EQ(storage->StorePage(m2, "first", "x"), StoreResult::kNotOwner);
    storage->UpdateSettings(
        {.announcement = "hello", .version_label = std::nullopt, .download_url = std::nullopt});
  }
  auto storage = Open();
  EXPECT_EQ(storage->HashMachineId("m1"), m1);  // the key persists too
  const auto mine = storage->ClaimsOfMachine(m1);
  ASSERT_EQ(mine.size(), 2u);
  EXPECT_EQ(mine[0].name, "first");  // claim order
  EXPECT_EQ(mine[1].name, "second");
  EXPECT_EQ(mine[0].claimed_at.size(), 19u);
  EXPECT_TRUE(storage->ClaimsOfMachine(m2).empty());
  EXPECT_EQ(storage->ClaimsOfName("first").at(0).owner, m1);

  const auto page = storage->LoadPage("first");
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->bytes, std::string("a\0b", 3));
  EXPECT_EQ(page->etag, PageEtag(page->bytes));
  EXPECT_EQ(page->compressed, std::string("z\0", 2));
  EXPECT_FALSE(page->compressed_unknown);
  EXPECT_NEAR(static_cast<double>(page->modified), static_cast<double>(std::time(nullptr)), 5);
  EXPECT_EQ(storage->LoadPage("second"), nullptr);
  EXPECT_EQ(storage->LoadPage("nobody"), nullptr);

  const SiteSettings settings = storage->LoadSettings();
  EXPECT_EQ(settings.announcement, "hello");
  EXPECT_FALSE(settings.version_label.has_value());
  if (auto* sqlite = dynamic_cast<SqliteStorage*>(storage.get())) {
    EXPECT_EQ(sqlite->IntegrityCheck(), "ok");
  }
}

TEST_P(StorageTest, SettingsChangeOnlyTheGivenFields) {
  auto storage = Open();
  storage->UpdateSettings({.announcement = "a", .version_label = "V2", .download_url = "u"});
  storage->UpdateSettings(
      {.announcement = std::nullopt, .version_label = "V3", .download_url = std::nullopt});
  const SiteSettings settings = storage->LoadSettings();
  EXPECT_EQ(settings.announcement, "a");
  EXPECT_EQ(settings.version_label, "V3");
  EXPECT_EQ(settings.download_url, "u");
}

// What a store asks before it reads the page comes in one reading, and says
// what each question apart says.
TEST_P(StorageTest, AStoreLearnsTheOperatorsDecisionsAndTheClaimInOneReading) {
  auto storage = Open();
  const MachineIdHash a = storage->HashMachineId("a"), b = storage->HashMachineId("b");
  ASSERT_EQ(storage->ClaimName(a, "mine"), ClaimResult::kClaimed);
  ASSERT_EQ(storage->ClaimName(b, "theirs"), ClaimResult::kClaimed);
  StoreStanding clear = storage->StandingOfStore(a, "mine");
  EXPECT_FALSE(clear.owner_blocked || clear.page_withheld);
  EXPECT_EQ(clear.name_owner, a);
  EXPECT_TRUE(clear.denied.empty());
  EXPECT_EQ(storage->StandingOfStore(a, "nobody").name_owner, std::nullopt);

  storage->AddDenied({DenyKind::kWord, "zz"}, 1);
  storage->AddDenied({DenyKind::kHost, "bad.example"}, 1);
  ASSERT_EQ(storage->WithholdPage("mine", "test"), AdminResult::kDone);
  ASSERT_EQ(storage->BlockOwner("theirs", "test"), AdminResult::kDone);
  const StoreStanding decided = storage->StandingOfStore(b, "mine");
  EXPECT_TRUE(decided.owner_blocked);
  EXPECT_TRUE(decided.page_withheld);
  EXPECT_EQ(decided.name_owner, a);
  EXPECT_EQ(decided.denied, storage->DeniedList());
  EXPECT_EQ(decided.denied.size(), 2u);
  EXPECT_FALSE(storage->StandingOfStore(a, "theirs").owner_blocked);
}

// The quota counts the pages of every process: a page that grows past it is
// refused, one that does not grow may always be replaced.
TEST_P(StorageTest, ReplacingAPageChangesItsValidatorWithinTheQuota) {
  auto storage = Open(10);
  // A SQLite folder has one server, which keeps the count.
  auto second = GetParam() == Engine::kPostgres ? Open(10) : nullptr;
  Storage& other = second ? *second : *storage;
  const MachineIdHash m = storage->HashMachineId("m");
  ASSERT_EQ(storage->ClaimName(m, "p"), ClaimResult::kClaimed);
  ASSERT_EQ(storage->ClaimName(m, "q"), ClaimResult::kClaimed);
  ASSERT_EQ(storage->StorePage(m, "p", "one"), StoreResult::kStored);
  const std::string first = storage->LoadPage("p")->etag;
  ASSERT_EQ(other.StorePage(m, "p", "two"), StoreResult::kStored);
  EXPECT_NE(storage->LoadPage("p")->etag, first);
  EXPECT_EQ(storage->LoadPage("p")->bytes, "two");
  EXPECT_EQ(other.StorePage(m, "q", "seven77"), StoreResult::kStored);  // 10 of 10
  EXPECT_EQ(storage->StorePage(m, "p", "four"), StoreResult::kOverQuota);
  EXPECT_EQ(storage->LoadPage("p")->bytes, "two");
  EXPECT_EQ(storage->StorePage(m, "p", "200"), StoreResult::kStored);
  EXPECT_EQ(storage->StorePage(m, "q", "x"), StoreResult::kStored);
  EXPECT_EQ(other.StorePage(m, "p", "three"), StoreResult::kStored);  // room was made
}

// What the pages of one address grew by is counted in the database every
// server shares, whichever identifiers stored them: by the day and over the
// usage days, against its own budget only. Replacing a page with one no
// larger always goes, and a refused store changes nothing.
TEST_P(StorageTest, PagesOfOneAddressGrowOnlyByItsShare) {
  auto storage = Open();
  auto second = GetParam() == Engine::kPostgres ? Open() : nullptr;
  Storage& other = second ? *second : *storage;
  const MachineIdHash a = Id("a"), b = Id("b"), c = Id("c");
  ASSERT_EQ(storage->ClaimName(a, "a"), ClaimResult::kClaimed);
  ASSERT_EQ(storage->ClaimName(b, "b"), ClaimResult::kClaimed);
  ASSERT_EQ(storage->ClaimName(c, "c"), ClaimResult::kClaimed);
  const AddressBudget daily{.key = "192.0.2.1", .pages_daily = 10};
  const AddressBudget recent{.key = "192.0.2.1", .pages_recent = 10};
  EXPECT_EQ(storage->StorePage(a, "a", "123456", daily), StoreResult::kStored);
  EXPECT_EQ(other.StorePage(b, "b", "12345", daily), StoreResult::kOverAddressDaily);
  EXPECT_EQ(other.StorePage(b, "b", "1234", recent), StoreResult::kStored);  // 10 of 10
  EXPECT_EQ(storage->StorePage(a, "a", "654321", recent), StoreResult::kStored);
  EXPECT_EQ(storage->StorePage(a, "a", "12", recent), StoreResult::kStored);
  EXPECT_EQ(other.StorePage(a, "a", "123", recent), StoreResult::kOverAddressShare);
  EXPECT_EQ(storage->LoadPage("a")->bytes, "12");
  EXPECT_EQ(storage->LoadPage("b")->bytes, "1234");
  EXPECT_EQ(storage->StorePage(c, "c", "12345678901", {.key = "192.0.2.2", .pages_daily = 11}),
            StoreResult::kStored);
}

// Temporary previews live for their time, a machine keeps only its newest
// few, their room is their own share, and an expired address says so (410,
// served through the router) until it is forgotten (404).
TEST_P(StorageTest, PreviewsExpireAreBoundedPerMachineAndSayWhenTheyAreGone) {
  auto storage = Open(8 * 100);  // room for previews: 100 bytes
  auto second = GetParam() == Engine::kPostgres ? Open(8 * 100) : nullptr;
  Storage& other = second ? *second : *storage;
  const MachineIdHash m = storage->HashMachineId("m");
  const std::int64_t t = 1'000'000'000;  // long before the router part below
  ASSERT_EQ(storage->StorePreview(m, "token0", "zero", t, t + 1800, {}, "0z"),
            PreviewStoreResult::kStored);
  auto live = other.LoadPreview("token0", t + 1799);
  ASSERT_TRUE(live && !live->expired && live->page);
  EXPECT_EQ(live->page->bytes, "zero");
  EXPECT_EQ(live->page->compressed, "0z");
  EXPECT_EQ(live->page->etag, PageEtag("zero"));
  EXPECT_TRUE(other.LoadPreview("token0", t + 1800)->expired);
  EXPECT_EQ(other.LoadPreview("nosuchtoken", t), std::nullopt);
  EXPECT_TRUE(storage->ClaimsOfMachine(m).empty()) << "a preview is not a claim";

  // A machine's fourth live preview ends its oldest; another's stay.
  const MachineIdHash n = storage->HashMachineId("n");
  ASSERT_EQ(other.StorePreview(n, "other0", "n", t, t + 1800, {}), PreviewStoreResult::kStored);
  for (int i = 1; i <= kPreviewsPerMachine; ++i)
    ASSERT_EQ(storage->StorePreview(m, "token" + std::to_string(i), "p", t + i, t + i + 1800, {}),
              PreviewStoreResult::kStored);
  const std::int64_t later = t + kPreviewsPerMachine + 1;
  EXPECT_TRUE(storage->LoadPreview("token0", later)->expired);
  for (int i = 1; i <= kPreviewsPerMachine; ++i)
    EXPECT_FALSE(storage->LoadPreview("token" + std::to_string(i), later)->expired) << i;
  EXPECT_FALSE(storage->LoadPreview("other0", later)->expired);

  // The live previews' bytes have their limit; expired ones give theirs back.
  EXPECT_EQ(other.StorePreview(n, "big", std::string(97, 'b'), later, later + 1800, {}),
            PreviewStoreResult::kOverQuota);
  EXPECT_EQ(other.LoadPreview("big", later), std::nullopt);
  EXPECT_EQ(other.StorePreview(n, "big", std::string(97, 'b'), t + 1900, t + 3700, {}),
            PreviewStoreResult::kStored);

  // Through the router: live, expired (410, in Chinese), forgotten (404).
  const Site site{*storage, "pages.example.org", {}, {}};
  const auto get = [&](std::string_view token) {
    Request request(boost::beast::http::verb::get, "/preview/" + std::string(token), 11);
    return HandleRequest(request, site);
  };
  const std::int64_t now = std::time(nullptr);
  const std::string fresh = NewPreviewToken(), gone = NewPreviewToken();
  ASSERT_EQ(storage->StorePreview(m, fresh, "<p>hi</p>", now, now + 1800, {}),
            PreviewStoreResult::kStored);
  ASSERT_EQ(storage->StorePreview(n, gone, "<p>old</p>", now - 1800, now - 1, {}),
            PreviewStoreResult::kStored);
  const Response served = get(fresh);
  ASSERT_TRUE(std::holds_alternative<PageResponse>(served)) << StatusOf(served);
  EXPECT_NE(std::get<PageResponse>(served).head.find("Content-Security-Policy: sandbox"),
            std::string::npos);
  EXPECT_EQ(std::get<PageResponse>(served).page->bytes, "<p>hi</p>");
  const Response expired = get(gone);
  EXPECT_EQ(StatusOf(expired), 410u);
  EXPECT_NE(std::get<StringResponse>(expired).body().find("已过期"), std::string::npos);
  EXPECT_EQ(StatusOf(get(NewPreviewToken())), 404u);
  // A day after expiring, the next store forgets the token.
  ASSERT_EQ(
      storage->StorePreview(m, "t2", "x", now + kExpiredPreviewMemorySeconds, now + 99999, {}),
      PreviewStoreResult::kStored);
  EXPECT_EQ(StatusOf(get(gone)), 404u);
}

// A guesser who tries from a new address whenever told, and comes back for
// every turn she is given, tries at the page's pace alone: four days take
// her no further than its budget and a turn each longest pace, so 10,000
// codes would take her months. The reader, coming meanwhile and back when
// told, is given a turn within a wait she may bear and let in at it.
TEST_P(StorageTest, TriesAtACodeGoAtThePagesPaceWhateverTheAddressesAndTheReaderHasHerTurn) {
  const std::unique_ptr<Storage> storage = Open();
  const std::int64_t start = 1'800'000'000;
  const std::int64_t reader_came = start + 2 * 86400;
  std::int64_t now = start, guessed = 0, reader_due = reader_came, reader_in = 0;
  std::uint64_t addresses = 0;
  std::multimap<std::int64_t, std::string> turns;  // the guesser's
  while (now < start + 4 * 86400) {
    if (reader_in == 0 && now >= reader_due) {
      const UnlockVerdict verdict = storage->TakeUnlockTry("gate", "reader", now);
      if (verdict.allowed) reader_in = now;
      reader_due = now + verdict.retry_after;
    }
    for (auto due = turns.begin(); due != turns.end() && due->first <= now;
         due = turns.erase(due)) {
      ASSERT_TRUE(storage->TakeUnlockTry("gate", due->second, now).allowed) << "her own turn";
      ++guessed;
    }
    std::int64_t free_at = now;
    for (;;) {
      const std::string from = "g" + std::to_string(addresses++);
      const UnlockVerdict verdict = storage->TakeUnlockTry("gate", from, now);
      if (verdict.allowed) {
        ++guessed;
      } else if (verdict.turn != 0) {
        EXPECT_TRUE(verdict.waits_turn);
        EXPECT_EQ(verdict.retry_after, verdict.turn - now);
        turns.emplace(verdict.turn, from);
      } else {
        free_at = now + verdict.retry_after;
        break;
      }
    }
    now = std::min(free_at, turns.empty() ? free_at : turns.begin()->first);
    if (reader_in == 0) now = std::min(now, std::max(reader_due, now + 1));
  }
  EXPECT_GT(guessed, kUnlockTriesPerPage);
  EXPECT_LE(guessed, kUnlockTriesPerPage + 4 * 86400 / kUnlockLongestPaceSeconds + 8);
  ASSERT_NE(reader_in, 0);
  EXPECT_LE(reader_in - reader_came, kUnlockTurnsAheadSeconds + kUnlockLongestPaceSeconds);
}

TEST_P(StorageTest, ConcurrentClaimsFromSeveralConnectionsHaveOneWinner) {
  auto a = Open();
  auto b = Open();
  constexpr int kThreads = 16;
  std::latch start(kThreads);
  std::atomic<int> winners = 0;
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      Storage& storage = i % 2 == 0 ? *a : *b;
      const MachineIdHash owner = storage.HashMachineId("m" + std::to_string(i));
      start.arrive_and_wait();
      if (storage.ClaimName(owner, "same") == ClaimResult::kClaimed) ++winners;
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(winners, 1);
  EXPECT_EQ(a->ClaimsOfName("same").size(), 1u);
}

// A database written by a server that kept identifiers in the clear and names
// as sent is brought up to date in place, once.
TEST_F(SqliteStorageTest, OlderDatabaseIsMigratedInPlace) {
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(File().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, R"sql(
      PRAGMA journal_mode=WAL;
      CREATE TABLE 系统设置 (编号 INTEGER PRIMARY KEY CHECK (编号 = 1), 公告 TEXT, 版本号 TEXT,
                            下载地址 TEXT);
      INSERT INTO 系统设置 (编号, 公告) VALUES (1, 'kept');
      CREATE TABLE 免费 (硬盘ID TEXT NOT NULL, 文件名 TEXT NOT NULL UNIQUE, 认领时间 TEXT NOT NULL);
      CREATE INDEX 免费_硬盘ID ON 免费 (硬盘ID);
      CREATE TABLE 页面 (文件名 TEXT PRIMARY KEY, 内容 BLOB NOT NULL, 修改时间 INTEGER NOT NULL,
                         标签 TEXT NOT NULL);
      INSERT INTO 免费 VALUES ('OTHER-SERIAL-2', 'alice', '2021-01-01 00:00:00');
      INSERT INTO 免费 VALUES ('SECRET-SERIAL-1', 'Alice', '2020-01-01 00:00:00');
      INSERT INTO 免费 VALUES ('SECRET-SERIAL-1', 'Bob9', '2020-06-01 00:00:00');
      INSERT INTO 页面 VALUES ('alice', 'newer', 1, '"a"');
      INSERT INTO 页面 VALUES ('Alice', 'older', 1, '"b"');
      INSERT INTO 页面 VALUES ('Bob9', 'bob', 1, '"c"');
      PRAGMA user_version=1;
    )sql",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  }
  std::vector<std::string> notes;
  {
    SqliteStorage storage(File(), kKey, {},
                          [&](const std::string& line) { notes.push_back(line); });
    for (const char* file : {"test.sqlite3", "test.sqlite3-wal"}) {
      const std::string bytes = heartpage::testing::ReadFile(dir_.path() / file);
      EXPECT_EQ(bytes.find("-SERIAL-"), std::string::npos) << file << " keeps an identifier";
    }
    const auto mine = storage.ClaimsOfMachine(Id("SECRET-SERIAL-1"));
    ASSERT_EQ(mine.size(), 2u);
    EXPECT_EQ(mine[0].name, "alice");  // the older of the two spellings
    EXPECT_EQ(mine[1].name, "bob9");
    EXPECT_TRUE(storage.ClaimsOfMachine(Id("OTHER-SERIAL-2")).empty());
    EXPECT_EQ(storage.LoadPage("alice")->bytes, "older");
    EXPECT_EQ(storage.LoadPage("bob9")->bytes, "bob");
    // Pages from before have no compressed bytes yet; they learn them once,
    // and only for the bytes they were made from.
    const auto old = storage.LoadPage("alice");
    EXPECT_TRUE(old->compressed_unknown);
    storage.KeepCompressed("alice", "\"stale\"", "wrong");
    EXPECT_TRUE(storage.LoadPage("alice")->compressed_unknown);
    storage.KeepCompressed("alice", old->etag, std::string("z\0z", 3));
    storage.KeepCompressed("alice", old->etag, "again");
    EXPECT_EQ(storage.LoadPage("alice")->compressed, std::string("z\0z", 3));
    EXPECT_FALSE(storage.LoadPage("alice")->compressed_unknown);
    EXPECT_EQ(storage.StorePage(Id("OTHER-SERIAL-2"), "alice", "x"), StoreResult::kNotOwner);
    EXPECT_EQ(storage.StorePage(Id("SECRET-SERIAL-1"), "bob9", "new"), StoreResult::kStored);
    EXPECT_EQ(storage.LoadSettings().announcement, "kept");
  }
  ASSERT_EQ(notes.size(), 3u);
  EXPECT_NE(notes[0].find("claim of \"alice\" (2021-01-01 00:00:00) set aside"), std::string::npos)
      << notes[0];
  EXPECT_NE(notes[1].find("page \"alice\" set aside"), std::string::npos) << notes[1];
  EXPECT_NE(notes[2].find("3 claims"), std::string::npos) << notes[2];

  notes.clear();
  SqliteStorage again(File(), kKey, {}, [&](const std::string& line) { notes.push_back(line); });
  EXPECT_TRUE(notes.empty());
  EXPECT_EQ(again.LoadPage("bob9")->bytes, "new");
  EXPECT_EQ(again.IntegrityCheck(), "ok");
  // The bytes in all were counted from the pages already there ("older",
  // "new"), and hold the limit from the first store on.
  SqliteStorage limited(File(), kKey, {.page_byte_limit = 10});
  EXPECT_EQ(limited.StorePage(Id("SECRET-SERIAL-1"), "bob9", "longer"), StoreResult::kOverQuota);
  EXPECT_EQ(limited.StorePage(Id("SECRET-SERIAL-1"), "bob9", "newer"), StoreResult::kStored);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(File().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* aside = nullptr;
  sqlite3_prepare_v2(db, "SELECT 文件名, 内容 IS NULL FROM 迁移搁置 ORDER BY rowid", -1, &aside,
                     nullptr);
  std::string set_aside;
  while (sqlite3_step(aside) == SQLITE_ROW)
    set_aside += std::string(reinterpret_cast<const char*>(sqlite3_column_text(aside, 0))) +
                 (sqlite3_column_int(aside, 1) ? " claim;" : " page;");
  sqlite3_finalize(aside);
  sqlite3_close(db);
  EXPECT_EQ(set_aside, "alice claim;alice page;");
}

// Rows laid out before the compressed bytes came first are moved, with
// both forms and the gates, which still go with their pages after.
TEST_F(SqliteStorageTest, PagesOfTheEarlierRowsKeepBothFormsAndTheirGates) {
  const MachineIdHash m = Id("m");
  {
    SqliteStorage storage(File(), kKey);
    for (const char* name : {"a", "b"})
      ASSERT_EQ(storage.ClaimName(m, name), ClaimResult::kClaimed);
    ASSERT_EQ(storage.StorePage(m, "a", "page a", {}, {.opens = 0, .code_hash = "h", .hint = "hi"}),
              StoreResult::kStored);
    ASSERT_EQ(storage.StorePage(m, "b", "page b"), StoreResult::kStored);
    storage.KeepCompressed("a", storage.LoadPage("a")->etag, "zipped a");
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(File().c_str(), &db), SQLITE_OK);
  const auto exec = [&](const char* sql) {
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  };
  exec(R"sql(
    CREATE TABLE old (文件名 TEXT PRIMARY KEY, 内容 BLOB NOT NULL, 修改时间 INTEGER NOT NULL,
                      标签 TEXT NOT NULL, 压缩 BLOB);
    INSERT INTO old SELECT 文件名, 内容, 修改时间, 标签, 压缩 FROM 页面;
    DROP TABLE 页面;
    ALTER TABLE old RENAME TO 页面;
    CREATE TRIGGER page_gates_go_with_page AFTER DELETE ON 页面 BEGIN
      DELETE FROM page_gates WHERE name = OLD.文件名;
    END;
    PRAGMA user_version=7;
  )sql");
  sqlite3_close(db);
  {
    SqliteStorage storage(File(), kKey);
    const auto a = storage.LoadPage("a");
    EXPECT_EQ(a->bytes, "page a");
    EXPECT_EQ(a->compressed, "zipped a");
    EXPECT_EQ(a->gate.hint, "hi");
    EXPECT_TRUE(storage.LoadForm("b", PageForm::kCompressed)->compressed_unknown);
    EXPECT_EQ(storage.IntegrityCheck(), "ok");
  }
  ASSERT_EQ(sqlite3_open(File().c_str(), &db), SQLITE_OK);
  exec("DELETE FROM 页面 WHERE 文件名 = 'a'");
  sqlite3_stmt* gates = nullptr;
  sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM page_gates", -1, &gates, nullptr);
  ASSERT_EQ(sqlite3_step(gates), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(gates, 0), 0);
  sqlite3_finalize(gates);
  sqlite3_close(db);
}

TEST_F(SqliteStorageTest, RefusesAFileThatIsNotADatabase) {
  std::ofstream(File()) << "this is not a database, just some text that is long enough";
  EXPECT_THROW(SqliteStorage(File(), kKey), StorageError);
}

std::string FileContents(const PageFile& file, std::size_t size) {
  std::string bytes(size, '\0');
  EXPECT_EQ(pread(file.fd(), bytes.data(), size, 0), static_cast<ssize_t>(size));
  return bytes;
}

TEST_F(SqliteStorageTest, CacheServesTheLatestStoreAndFilesHoldLargePagesUpToTheirLimit) {
  SqliteStorage database(File(), kKey);
  CachingStorage cache(database, 1024 * 1024, 1);
  ASSERT_EQ(database.ClaimName(Id("m"), "p"), ClaimResult::kClaimed);
  ASSERT_EQ(database.ClaimName(Id("m"), "q"), ClaimResult::kClaimed);
  // As the site reads a page: its first reader compresses it and keeps that.
  const auto read = [&](const char* name) {
    const auto page = cache.LoadPage(name);
    if (page != nullptr && page->compressed_unknown) cache.KeepCompressed(name, page->etag, "");
    return cache.LoadPage(name);
  };
  const std::string one(CachingStorage::kSmallPage, '1');
  ASSERT_EQ(cache.StorePage(Id("m"), "p", one), StoreResult::kStored);
  EXPECT_FALSE(cache.HasInMemory("p"));
  const auto first = read("p");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(cache.LoadPage("p"), first);  // now from memory
  ASSERT_TRUE(first->file.valid());
  EXPECT_EQ(FileContents(first->file, one.size()), one);

  // Past the limit of files, and small pages always: sent from memory.
  ASSERT_EQ(cache.StorePage(Id("m"), "q", std::string(CachingStorage::kSmallPage, 'q')),
            StoreResult::kStored);
  EXPECT_FALSE(read("q")->file.valid());
  EXPECT_TRUE(cache.HasInMemory("q"));
  EXPECT_EQ(cache.LoadPage("q")->bytes, std::string(CachingStorage::kSmallPage, 'q'));

  ASSERT_EQ(cache.StorePage(Id("m"), "p", "two"), StoreResult::kStored);
  EXPECT_EQ(read("p")->bytes, "two");
  EXPECT_FALSE(cache.LoadPage("p")->file.valid());
  EXPECT_EQ(first->bytes, one);  // a reader still sending the old page keeps it whole

  // Too large to cache: read from the database every time, still correct.
  const std::string big(200 * 1024, 'b');
  ASSERT_EQ(cache.StorePage(Id("m"), "p", big), StoreResult::kStored);
  EXPECT_EQ(cache.LoadPage("p")->bytes, big);
  EXPECT_FALSE(cache.LoadPage("p")->file.valid());
  EXPECT_EQ(cache.LoadPage("nothing"), nullptr);
}

// Many pages read once each, as a crawler or a few readers cycling over the
// site ask for them, pass through the cache without pushing out a page read
// again and again, and never leave it empty.
TEST_F(SqliteStorageTest, CacheKeepsAPageReadOftenThroughAScanOfPagesReadOnce) {
  SqliteStorage database(File(), kKey);
  constexpr std::size_t kPage = 8 * 1024;
  constexpr std::size_t kCapacity = 160 * 1024;  // about fifteen pages
  CachingStorage cache(database, kCapacity, 0);
  // As the site reads a page: its first reader compresses it and keeps that.
  const auto read = [&](const std::string& name) {
    auto page = cache.LoadPage(name);
    if (page->compressed_unknown) cache.KeepCompressed(name, page->etag, "");
    return page;
  };
  const auto store = [&](const std::string& name) {
    ASSERT_EQ(database.ClaimName(Id("m"), name), ClaimResult::kClaimed);
    ASSERT_EQ(cache.StorePage(Id("m"), name, std::string(kPage, name.back())),
              StoreResult::kStored);
  };
  store("hot");
  for (int i = 0; i < 200; ++i) store("cold" + std::to_string(i));
  for (int i = 0; i < 3; ++i) read("hot");
  // A page let go is freed then, not kept on by the cache. (Its form known,
  // the first read is the one the cache keeps.)
  database.KeepCompressed("cold0", database.LoadPage("cold0")->etag, "");
  std::weak_ptr<const StoredPage> first;
  for (int i = 0; i < 200; ++i) {
    const auto page = read("cold" + std::to_string(i));
    if (i == 0) first = page;
    if (i % 100 == 99) {
      EXPECT_TRUE(cache.HasInMemory("hot")) << "after " << i + 1;
      read("hot");
    }
  }
  int kept = 0;
  for (int i = 0; i < 200; ++i) kept += cache.HasInMemory("cold" + std::to_string(i)) ? 1 : 0;
  EXPECT_GT(kept, 0);
  EXPECT_LE((kept + 1) * kPage, kCapacity);
  EXPECT_TRUE(first.expired());
}

// A reader past the cache brings only the form it is sent; the cache joins
// the other to it when a reader of that one comes, and serves both from then
// on. A page whose compressed form is unknown or not worth it is read as it is.
TEST_P(StorageTest, AReaderOfOneFormReadsThatFormAloneAndTheCacheJoinsThem) {
  auto database = Open();
  CachingStorage cache(*database, 1024 * 1024, 16);
  const MachineIdHash m = database->HashMachineId("m");
  ASSERT_EQ(database->ClaimName(m, "p"), ClaimResult::kClaimed);
  const std::string bytes(CachingStorage::kSmallPage, 'p');
  ASSERT_EQ(cache.StorePage(m, "p", bytes), StoreResult::kStored);
  const auto unknown = database->LoadForm("p", PageForm::kCompressed);
  EXPECT_TRUE(unknown->compressed_unknown);
  EXPECT_EQ(unknown->bytes, bytes);
  database->KeepCompressed("p", unknown->etag, "zipped");

  const auto zipped = database->LoadForm("p", PageForm::kCompressed);
  EXPECT_EQ(zipped->compressed, "zipped");
  EXPECT_TRUE(zipped->plain_left_out);
  EXPECT_TRUE(zipped->bytes.empty());
  const auto plain = database->LoadForm("p", PageForm::kPlain);
  EXPECT_EQ(plain->bytes, bytes);
  EXPECT_TRUE(plain->compressed_left_out);
  EXPECT_FALSE(plain->compressed_unknown);
  EXPECT_EQ(plain->etag, zipped->etag);

  EXPECT_EQ(cache.LoadForm("p", PageForm::kCompressed)->compressed, "zipped");
  EXPECT_TRUE(cache.HasFormInMemory("p", PageForm::kCompressed));
  EXPECT_FALSE(cache.HasFormInMemory("p", PageForm::kPlain));
  const auto joined = cache.LoadForm("p", PageForm::kPlain);
  EXPECT_EQ(joined->bytes, bytes);
  EXPECT_EQ(joined->compressed, "zipped");
  ASSERT_TRUE(joined->file.valid());
  EXPECT_TRUE(cache.HasInMemory("p"));
  EXPECT_EQ(cache.LoadPage("p"), joined);

  // Not worth compressing: a reader that takes gzip gets it as it is.
  ASSERT_EQ(cache.StorePage(m, "p", "short"), StoreResult::kStored);
  database->KeepCompressed("p", database->LoadPage("p")->etag, "");
  const auto as_is = cache.LoadForm("p", PageForm::kCompressed);
  EXPECT_EQ(as_is->bytes, "short");
  EXPECT_TRUE(HoldsForm(*as_is, PageForm::kCompressed));
}

// With PostgreSQL the stores come from another process, which the cache
// hears of only through the database.
TEST_P(StorageTest, CacheNeverServesAPageOlderThanAnAcknowledgedStore) {
  auto database = Open();
  CachingStorage cache(*database, 1024 * 1024, 16);
  std::unique_ptr<Storage> other = GetParam() == Engine::kPostgres ? Open() : nullptr;
  const Stores writer = other ? Stores(*other) : cache.Serving();
  const MachineIdHash m = writer.claims.HashMachineId("m");
  ASSERT_EQ(writer.claims.ClaimName(m, "p"), ClaimResult::kClaimed);
  ASSERT_EQ(writer.pages.StorePage(m, "p", "0"), StoreResult::kStored);
  std::atomic<int> acknowledged = 0;
  std::atomic<int> stale = 0;
  std::atomic<bool> done = false;
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&] {
      while (!done) {
        const int floor = acknowledged;
        if (std::stoi(cache.LoadPage("p")->bytes) < floor) ++stale;
      }
    });
  }
  for (int i = 1; i <= 200; ++i) {
    ASSERT_EQ(writer.pages.StorePage(m, "p", std::to_string(i)), StoreResult::kStored);
    acknowledged = i;
  }
  done = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(stale, 0);
  EXPECT_EQ(cache.LoadPage("p")->bytes, "200");
}

// Taking a page down frees its bytes and keeps its claim; releasing the name
// frees both; a cache in front, or in another process, stops serving the page
// before either returns.
TEST_P(StorageTest, TakingDownKeepsTheClaimReleasingGivesItUpAndBothEmptyEveryCache) {
  auto database = Open(/*page_limit=*/10);
  CachingStorage cache(*database, 1024 * 1024, 16);
  std::unique_ptr<Storage> other = GetParam() == Engine::kPostgres ? Open(10) : nullptr;
  const Stores owner_side = other ? Stores(*other) : cache.Serving();
  const MachineIdHash m = owner_side.claims.HashMachineId("m");
  const MachineIdHash intruder = owner_side.claims.HashMachineId("x");
  ASSERT_EQ(owner_side.claims.ClaimName(m, "p"), ClaimResult::kClaimed);
  ASSERT_EQ(owner_side.pages.StorePage(m, "p", "0123456789"), StoreResult::kStored);
  ASSERT_EQ(cache.LoadPage("p")->bytes, "0123456789");

  EXPECT_EQ(owner_side.pages.TakeDownPage(intruder, "p"), TakeDownResult::kNotOwner);
  EXPECT_EQ(owner_side.pages.TakeDownPage(m, "nobody"), TakeDownResult::kUnclaimed);
  EXPECT_FALSE(cache.WasTakenDown("p"));
  ASSERT_EQ(cache.LoadPage("p")->bytes, "0123456789");

  EXPECT_EQ(owner_side.pages.TakeDownPage(m, "p"), TakeDownResult::kTakenDown);
  EXPECT_EQ(cache.LoadPage("p"), nullptr);
  EXPECT_TRUE(cache.WasTakenDown("p"));
  EXPECT_EQ(owner_side.pages.TakeDownPage(m, "p"), TakeDownResult::kTakenDown);
  EXPECT_EQ(owner_side.claims.ClaimsOfName("p").size(), 1u);
  // The freed bytes count: a full site takes the page again.
  EXPECT_EQ(owner_side.pages.StorePage(m, "p", "9876543210"), StoreResult::kStored);
  EXPECT_FALSE(cache.WasTakenDown("p"));
  EXPECT_EQ(cache.LoadPage("p")->bytes, "9876543210");

  // Released: no page, no claim, and its bytes are free for the next owner;
  // released after a take-down, no record that it was taken down either.
  EXPECT_EQ(owner_side.pages.ReleaseName(intruder, "p"), ReleaseResult::kNotOwner);
  EXPECT_EQ(owner_side.pages.ReleaseName(m, "nobody"), ReleaseResult::kUnclaimed);
  EXPECT_EQ(owner_side.pages.ReleaseName(m, "p"), ReleaseResult::kReleased);
  EXPECT_EQ(cache.LoadPage("p"), nullptr);
  EXPECT_TRUE(owner_side.claims.ClaimsOfName("p").empty());
  EXPECT_EQ(owner_side.pages.ReleaseName(m, "p"), ReleaseResult::kUnclaimed);
  ASSERT_EQ(owner_side.claims.ClaimName(intruder, "p"), ClaimResult::kClaimed);
  EXPECT_EQ(owner_side.pages.StorePage(intruder, "p", "abcdefghij"), StoreResult::kStored);
  EXPECT_EQ(cache.LoadPage("p")->bytes, "abcdefghij");
  ASSERT_EQ(owner_side.pages.TakeDownPage(intruder, "p"), TakeDownResult::kTakenDown);
  EXPECT_EQ(owner_side.pages.ReleaseName(intruder, "p"), ReleaseResult::kReleased);
  EXPECT_FALSE(cache.WasTakenDown("p"));
}

// Files are kept once whatever the number of senders, each sender's quota
// counts what they sent, a range reads across chunk edges, and the sweep
// removes only what no page of its sender names once it is old enough.
TEST_P(StorageTest, MediaAreKeptOnceReadByRangeAndSweptWhenUnused) {
  // Media may take three quarters of the limit: the rest is the pages'.
  auto storage = Open(/*page_limit=*/(2 * kMediaChunk + 1000) * 4 / 3);
  const MachineIdHash a = storage->HashMachineId("a");
  const MachineIdHash b = storage->HashMachineId("b");
  std::string bytes(kMediaChunk * 2 + 100, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 % 251);
  const auto from = [](std::string_view data) {
    return MediaReader([data, at = std::size_t{0}](char* out, std::size_t size) mutable {
      const std::size_t n = std::min(size, data.size() - at);
      std::copy_n(data.data() + at, n, out);
      at += n;
      return n;
    });
  };
  const MediaFacts big{std::string(64, 'a') + ".mp4", "video/mp4", bytes.size()};
  const MediaFacts small{std::string(64, 'b') + ".png", "image/png", 5};
  const std::uint64_t quota = bytes.size() + 4;

  EXPECT_EQ(storage->StoreMedia(a, big, from(bytes), quota, {}), MediaStoreResult::kStored);
  EXPECT_EQ(storage->StoreMedia(a, big, from(""), quota, {}), MediaStoreResult::kStored);
  EXPECT_EQ(storage->StoreMedia(a, small, from("12345"), quota, {}),
            MediaStoreResult::kOverOwnerQuota);
  EXPECT_EQ(storage->StoreMedia(b, small, from("12345"), quota, {}), MediaStoreResult::kStored);
  // Kept once: a second sender's copy takes no more of the site's room.
  EXPECT_EQ(storage->StoreMedia(b, big, from(""), quota * 2, {}), MediaStoreResult::kStored);
  const MediaFacts other{std::string(64, 'c') + ".mp4", "video/mp4", kMediaChunk};
  EXPECT_EQ(storage->StoreMedia(b, other, from(std::string(kMediaChunk, 'x')), UINT64_MAX, {}),
            MediaStoreResult::kOverQuota);
  EXPECT_FALSE(storage->FindMedia(other.name));

  const std::optional<MediaFacts> found = storage->FindMedia(big.name);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->content_type, "video/mp4");
  EXPECT_EQ(found->size, bytes.size());
  std::string part;
  storage->ReadMedia(big.name, kMediaChunk - 3, kMediaChunk + 10,
                     [&](std::string_view piece) { part += piece; });
  EXPECT_EQ(part, bytes.substr(kMediaChunk - 3, kMediaChunk + 10));

  // a's page names the big file; b's pages name nothing.
  ASSERT_EQ(storage->ClaimName(a, "pa"), ClaimResult::kClaimed);
  ASSERT_EQ(storage->StorePage(a, "pa", "<video src=\"http://h/media/" + big.name + "\">"),
            StoreResult::kStored);
  const std::int64_t now = std::time(nullptr);
  EXPECT_TRUE(storage->SweepMedia(now - 10).empty());  // all too young
  EXPECT_EQ(storage->SweepMedia(now + 10), std::vector<std::string>{small.name});
  EXPECT_FALSE(storage->FindMedia(small.name));
  ASSERT_TRUE(storage->FindMedia(big.name));
  // Taken down, the page names it no longer.
  ASSERT_EQ(storage->TakeDownPage(a, "pa"), TakeDownResult::kTakenDown);
  EXPECT_EQ(storage->SweepMedia(now + 10), std::vector<std::string>{big.name});
  EXPECT_EQ(storage->StoreMedia(b, other, from(std::string(kMediaChunk, 'x')), UINT64_MAX, {}),
            MediaStoreResult::kStored);

  // An address has a quarter of the media's room whatever identifiers it
  // sends, and its day's budget.
  const AddressBudget sender{"192.0.2.1", UINT64_MAX};
  const MediaFacts first{std::string(64, 'd') + ".png", "image/png", 100'000};
  const MediaFacts second{std::string(64, 'e') + ".png", "image/png", 40'000};
  EXPECT_EQ(storage->StoreMedia(a, first, from(std::string(100'000, 'd')), UINT64_MAX, sender),
            MediaStoreResult::kStored);
  EXPECT_EQ(storage->StoreMedia(b, second, from(std::string(40'000, 'e')), UINT64_MAX, sender),
            MediaStoreResult::kOverAddressShare);
  EXPECT_EQ(storage->StoreMedia(b, second, from(std::string(40'000, 'e')), UINT64_MAX,
                                {"192.0.2.2", 39'999}),
            MediaStoreResult::kOverAddressDaily);
  EXPECT_FALSE(storage->FindMedia(second.name));
}

}  // namespace
}  // namespace heartpage::server
