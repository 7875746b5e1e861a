// The SQLite storage on a disk that fills up, fails, or loses its power:
// nothing is acknowledged that the disk does not hold, reads go on, and the
// storage works again once the disk does.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <set>

#include "server/site/endpoint/endpoint.h"
#include "server/storage/sqlite/sqlite_storage.h"
#include "tests/server/built_page.h"
#include "tests/server/fault_vfs.h"
#include "tests/support/server_harness.h"
#include "text/gbk.h"

namespace heartpage::server {
namespace {

using namespace testing;

const std::string kKey(MachineIdHasher::kKeyBytes, 'k');

MachineIdHash Id(std::string_view machine_id) {
  return MachineIdHasher(kKey)(machine_id);
}

// The storage, through the faulty disk.
void OpenStorage(std::optional<SqliteStorage>& storage, const std::filesystem::path& file) {
  storage.emplace(file, kKey, StorageOptions{}, nullptr, FaultVfs::kName);
}

// Larger than a database page, so that a store writes several.
// A page of the site at example.com, as the endpoint below knows it.
std::string PageText(std::string_view name, int version) {
  return BuiltPage("example.com", std::string(name) + " " + std::to_string(version) + " " +
                                      std::string(6000, static_cast<char>('a' + version % 26)));
}

class StorageFaultTest : public ::testing::Test {
 protected:
  void SetUp() override { vfs_.Reset(); }
  void TearDown() override { vfs_.Reset(); }

  // The power goes under a storage: it is closed (writing nothing more) and
  // its files are put back as the disk kept them.
  static void LosePower(std::optional<SqliteStorage>& storage) {
    FaultVfs::Get().PowerOff();
    storage.reset();
    EXPECT_EQ(FaultVfs::Get().OpenFiles(), 0);
    FaultVfs::Get().RestoreDurable();
  }

  FaultVfs& vfs_ = FaultVfs::Get();
  testing::ScratchDir dir_;
};

struct DiskFault {
  const char* what;
  FaultVfs::Op op;
  int code;
  bool lasting;  // the disk stays full until space is freed
};
constexpr DiskFault kDiskFaults[] = {
    {"disk full", FaultVfs::Op::kWrite, SQLITE_FULL, true},
    {"write error", FaultVfs::Op::kWrite, SQLITE_IOERR_WRITE, false},
    {"sync error", FaultVfs::Op::kSync, SQLITE_IOERR_FSYNC, false},
    {"lock error", FaultVfs::Op::kLock, SQLITE_IOERR_LOCK, false},
};

// Every write, sync or lock of a publish fails in turn. The storage's
// connections live through the failures until the power loss that checks
// that what they acknowledged next was on the disk.
TEST_F(StorageFaultTest, AFailingDiskRefusesWritesKeepsReadsAndRecovers) {
  for (const DiskFault& fault : kDiskFaults) {
    SCOPED_TRACE(fault.what);
    vfs_.Reset();
    const auto file = dir_.path() / (std::string(fault.what) + ".sqlite3");
    // On a disk failing from the start the storage cannot be made, and
    // leaves no file open behind it.
    vfs_.FailNth(fault.op, 1, fault.code, /*lasting=*/true);
    EXPECT_THROW(SqliteStorage(file, kKey, {}, nullptr, FaultVfs::kName), StorageError);
    EXPECT_EQ(vfs_.OpenFiles(), 0);
    vfs_.Clear();

    std::map<std::string, std::string> acknowledged;
    std::optional<SqliteStorage> storage;
    OpenStorage(storage, file);
    // The endpoint lets StorageError through; the HTTP side answers it with 500.
    const auto post = [&](const std::string& body) {
      return HandleEndpoint(*storage, body, "example.com").status;
    };
    ASSERT_EQ(post(ClaimBody("m", "kept")), 200u);
    ASSERT_EQ(post(StoreBody("m", "kept", PageText("kept", 0))), 200u);
    acknowledged["kept"] = PageText("kept", 0);

    for (int nth = 1;; ++nth) {
      SCOPED_TRACE("operation " + std::to_string(nth) + " fails");
      const std::string name = "p" + std::to_string(nth);
      const std::string page = PageText(name, nth);
      vfs_.FailNth(fault.op, nth, fault.code, fault.lasting);
      // A publish as the client makes it: a claim, then the store.
      bool claimed = false;
      bool stored = false;
      try {
        claimed = post(ClaimBody("m", name)) == 200;
        stored = claimed && post(StoreBody("m", name, page)) == 200;
      } catch (const StorageError&) {
      }
      if (!vfs_.Fired()) {  // the publish needs fewer than `nth` operations
        vfs_.Clear();
        ASSERT_TRUE(stored);
        break;
      }
      if (stored) {
        acknowledged[name] = page;
      } else {
        // Nothing half done, and earlier pages are still served.
        EXPECT_EQ(storage->ClaimsOfName(name).size(), claimed ? 1u : 0u);
        EXPECT_EQ(storage->LoadPage(name), nullptr);
        ASSERT_NE(storage->LoadPage("kept"), nullptr);
        EXPECT_TRUE(storage->LoadPage("kept")->bytes == ToGbk(acknowledged["kept"]));
        EXPECT_EQ(post(testing::NameLookup("kept")), 200u);
        if (fault.lasting) {
          EXPECT_THROW(post(StoreBody("m", "kept", PageText("lost", 0))), StorageError);
          EXPECT_THROW(post(ClaimBody("m", name + "x")), StorageError);
          // A server restarted on the full disk still serves what it has.
          storage.reset();
          OpenStorage(storage, file);
          EXPECT_TRUE(storage->LoadPage("kept")->bytes == ToGbk(acknowledged["kept"]));
        }
      }

      // The fault clears: the next store goes through, on the disk.
      vfs_.Clear();
      acknowledged["kept"] = PageText("kept", nth);
      ASSERT_EQ(post(StoreBody("m", "kept", acknowledged["kept"])), 200u);
      LosePower(storage);
      OpenStorage(storage, file);
      EXPECT_EQ(storage->IntegrityCheck(), "ok");
      for (const auto& [acknowledged_name, bytes] : acknowledged) {
        const auto found = storage->LoadPage(acknowledged_name);
        ASSERT_NE(found, nullptr) << acknowledged_name;
        EXPECT_TRUE(found->bytes == ToGbk(bytes)) << acknowledged_name;
      }
      EXPECT_EQ(storage->ClaimsOfName(name).size(), claimed ? 1u : 0u);
      if (!stored) {
        if (!claimed) {
          ASSERT_EQ(post(ClaimBody("m", name)), 200u);
        }
        ASSERT_EQ(post(StoreBody("m", name, page)), 200u);
        acknowledged[name] = page;
      }
    }
  }
}

// A claim is committed without a sync of its own; the sync of any later store
// carries it to the disk. Power goes at every write or sync of a day's work in
// turn: what was acknowledged before the last acknowledged store survives.
TEST_F(StorageFaultTest, PowerLossKeepsEveryAcknowledgedPageAndItsClaim) {
  enum class Kind { kClaim, kStore, kCheckpoint };
  struct Step {
    Kind kind;
    std::string machine;
    std::string name;
  };
  const std::vector<Step> steps = {
      {Kind::kClaim, "m1", "a"}, {Kind::kStore, "m1", "a"}, {Kind::kClaim, "m1", "b"},
      {Kind::kClaim, "m2", "c"}, {Kind::kStore, "m2", "c"}, {Kind::kCheckpoint, "", ""},
      {Kind::kClaim, "m1", "d"}, {Kind::kStore, "m1", "a"}, {Kind::kClaim, "m2", "e"},
      {Kind::kStore, "m1", "b"}, {Kind::kClaim, "m2", "f"}, {Kind::kClaim, "m1", "g"},
  };

  for (int nth = 1;; ++nth) {
    SCOPED_TRACE("power lost at write or sync " + std::to_string(nth));
    vfs_.Reset();
    const auto file = dir_.path() / ("loss-" + std::to_string(nth) + ".sqlite3");
    std::map<std::string, std::string> pages;                 // acknowledged
    std::vector<std::pair<std::string, std::string>> claims;  // acknowledged, in order
    std::size_t durable_claims = 0;  // those before the last acknowledged store
    std::set<std::string> attempted_claims;

    std::optional<SqliteStorage> storage;
    OpenStorage(storage, file);
    vfs_.PowerOffAt(nth);
    bool completed = false;
    try {
      for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        if (step.kind == Kind::kClaim) {
          attempted_claims.insert(step.name);
          ASSERT_EQ(storage->ClaimName(Id(step.machine), step.name), ClaimResult::kClaimed);
          claims.emplace_back(step.machine, step.name);
        } else if (step.kind == Kind::kStore) {
          const std::string page = PageText(step.name, static_cast<int>(i));
          ASSERT_EQ(storage->StorePage(Id(step.machine), step.name, page), StoreResult::kStored);
          pages[step.name] = page;
          durable_claims = claims.size();
        } else {
          // What SQLite does by itself once the log grows: pages move from the
          // log into the database file and the log starts over.
          sqlite3* db = nullptr;
          int rc = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, FaultVfs::kName);
          if (rc == SQLITE_OK)
            rc =
                sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_RESTART, nullptr, nullptr);
          sqlite3_close(db);
          if (rc != SQLITE_OK) throw StorageError(sqlite3_errstr(rc));
        }
      }
      completed = true;
    } catch (const StorageError&) {
      ASSERT_TRUE(vfs_.PoweredOff());
    }

    LosePower(storage);
    OpenStorage(storage, file);
    EXPECT_EQ(storage->IntegrityCheck(), "ok");
    for (const auto& [name, bytes] : pages) {
      const auto page = storage->LoadPage(name);
      ASSERT_NE(page, nullptr) << name;
      EXPECT_TRUE(page->bytes == bytes) << name;
    }
    for (std::size_t i = 0; i < durable_claims; ++i) {
      const auto found = storage->ClaimsOfName(claims[i].second);
      ASSERT_EQ(found.size(), 1u) << claims[i].second;
      EXPECT_EQ(found[0].owner, Id(claims[i].first));
    }
    for (const char* machine : {"m1", "m2"})
      for (const Claim& claim : storage->ClaimsOfMachine(Id(machine)))
        EXPECT_TRUE(attempted_claims.contains(claim.name)) << claim.name;
    for (const Step& step : steps) {
      if (step.kind == Kind::kStore && !pages.contains(step.name)) {
        EXPECT_EQ(storage->LoadPage(step.name), nullptr) << step.name;
      }
    }
    // And the storage takes new work.
    EXPECT_EQ(storage->ClaimName(Id("m3"), "after"), ClaimResult::kClaimed);
    EXPECT_EQ(storage->StorePage(Id("m3"), "after", "x"), StoreResult::kStored);
    if (completed) break;
  }
}

}  // namespace
}  // namespace heartpage::server
