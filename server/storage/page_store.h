#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "server/storage/address_usage.h"
#include "server/storage/machine_id_hash.h"
#include "server/storage/page_file.h"
#include "server/storage/storage_error.h"

namespace heartpage::server {

// What a page's visitor must wait for or give before its bytes are shown:
// the moment it opens, and a code, kept only as its salted slow hash
// (page_code.h), with the hint shown where it is asked for. The default opens
// at once to anyone with the address, as pages of older clients do.
struct PageGate {
  std::int64_t opens = 0;  // seconds since the epoch; 0: at once
  std::string code_hash;   // empty: no code
  std::string hint;
  bool empty() const { return opens == 0 && code_hash.empty() && hint.empty(); }
  bool operator==(const PageGate&) const = default;
};

struct StoredPage {
  std::string bytes;
  std::int64_t modified = 0;  // seconds since the epoch
  std::string etag;           // quoted, ready for the header
  PageFile file;              // the same bytes, when a cache made them a file
  // The same bytes compressed, as whoever stored them handed them over;
  // empty when compressing them would not pay. Opaque here: what they are
  // is the site's business.
  std::string compressed{};
  // Taken down by the operator (AdminStore::WithholdPage): visitors are told
  // so instead of being shown the bytes.
  bool withheld = false;
  // Kept with the bytes, so that wherever the page is kept its gate is too.
  PageGate gate{};
  // Not read since it was stored: an empty `compressed` says nothing yet
  // (KeepCompressed).
  bool compressed_unknown = false;
  // Read for a reader of one form (PageStore::LoadForm), the other form was
  // left out: empty here whatever the page holds.
  bool plain_left_out = false;
  bool compressed_left_out = false;
};

// What a reader is sent of a page: a reader that accepts gzip the compressed
// bytes, where compressing paid, any other the bytes as they are. A page read
// past a cache need bring only that one.
enum class PageForm { kBoth, kPlain, kCompressed };

// Whether `page` holds what a reader of `form` is sent.
inline bool HoldsForm(const StoredPage& page, PageForm form) {
  switch (form) {
    case PageForm::kPlain:
      return !page.plain_left_out;
    case PageForm::kCompressed:
      return !page.compressed_left_out && (!page.compressed.empty() || !page.plain_left_out);
    case PageForm::kBoth:
      break;
  }
  return !page.plain_left_out && !page.compressed_left_out;
}

// The validator a page's answers carry: every store gives the same bytes the
// same one, so that processes sharing a database agree on it.
inline std::string PageEtag(std::string_view bytes) {
  char text[40];
  std::snprintf(text, sizeof text, "\"%zx-%zx\"", bytes.size(),
                std::hash<std::string_view>{}(bytes));
  return text;
}

// kOverAddressDaily, kOverAddressShare: the pages stored from the sender's
// address grew by its AddressBudget::pages_daily today, or by its
// pages_recent over the last kAddressUsageDays days.
enum class StoreResult {
  kStored,
  kUnclaimed,
  kNotOwner,
  kOverQuota,
  kOverAddressDaily,
  kOverAddressShare
};

// The pages' share of one address, for both engines alike: `growth` more
// bytes of pages from `sender`, whose pages grew by `today` bytes today and
// by `recent` over the usage days (today included). A store that does not grow the pages is never
// refused by its address, so a page can always be fixed or made smaller.
// kStored when it may go ahead.
inline StoreResult PageShareVerdict(const AddressBudget& sender, std::uint64_t growth,
                                    std::uint64_t today, std::uint64_t recent) {
  if (growth == 0 || sender.key.empty()) return StoreResult::kStored;
  if (recent + growth > sender.pages_recent) return StoreResult::kOverAddressShare;
  if (today + growth > sender.pages_daily) return StoreResult::kOverAddressDaily;
  return StoreResult::kStored;
}
enum class TakeDownResult { kTakenDown, kUnclaimed, kNotOwner };
enum class ReleaseResult { kReleased, kUnclaimed, kNotOwner };

// The published pages. Every change of what a name's page answers passes
// here, so that a cache in front of the pages sees each one.
class PageStore {
 public:
  virtual ~PageStore() = default;

  // Replaces the page atomically and durably when `name` is claimed by
  // `owner`: once this returns kStored the page survives a crash of the
  // process, and a reader never sees a mix of the old and the new bytes.
  // Otherwise nothing changes. What the page grows by counts against
  // `sender`'s share (PageShareVerdict) and is added to its usage. `gate`
  // replaces the page's gate with the bytes. Its compressed form is unknown
  // (StoredPage::compressed_unknown) until its first reader keeps it.
  virtual StoreResult StorePage(const MachineIdHash& owner, std::string_view name,
                                std::string_view bytes, const AddressBudget& sender = {},
                                const PageGate& gate = {}) = 0;
  // Null when there is no such page.
  virtual std::shared_ptr<const StoredPage> LoadPage(std::string_view name) = 0;
  // The same holding at least `form` (HoldsForm). A large page's bytes are
  // most of what reading it costs, so a store that can read one form alone
  // does.
  virtual std::shared_ptr<const StoredPage> LoadForm(std::string_view name, PageForm /*form*/) {
    return LoadPage(name);
  }
  // Keeps `compressed` beside a page whose compressed form is unknown
  // (StoredPage::compressed_unknown), if it is still the page of validator
  // `etag`: a page stored since keeps its own. Stores that know no such
  // pages need not do anything.
  virtual void KeepCompressed(std::string_view /*name*/, std::string_view /*etag*/,
                              std::string_view /*compressed*/) {}
  // Whether LoadPage(name) would answer from memory, without waiting on the
  // database.
  virtual bool HasInMemory(std::string_view name) = 0;
  // Whether LoadForm(name, form) would.
  virtual bool HasFormInMemory(std::string_view name, PageForm /*form*/) {
    return HasInMemory(name);
  }

  // Takes the published page of `name` down when `owner` claims it: the page
  // and its bytes go, the claim stays, and WasTakenDown(name) holds until the
  // page is stored again. Taking down a page that is already gone succeeds.
  virtual TakeDownResult TakeDownPage(const MachineIdHash& owner, std::string_view name) = 0;
  virtual bool WasTakenDown(std::string_view name) = 0;

  // Gives up the claim of `name` when `owner` holds it: the claim, the page
  // and the record of its taking down go together, so the name answers as
  // never published and anyone may claim it.
  virtual ReleaseResult ReleaseName(const MachineIdHash& owner, std::string_view name) = 0;
};

// Told of pages changed by other processes sharing the database, so that
// what a process keeps in memory never outlives an acknowledged store.
class PageChangeSink {
 public:
  virtual ~PageChangeSink() = default;
  virtual void PageChanged(std::string_view name) = 0;
  // Changes may have gone unseen (the link that reports them broke).
  virtual void AllPagesChanged() = 0;
};

// What an engine tells a cache in front of its pages about keeping them.
class PageChangeSource {
 public:
  virtual ~PageChangeSource() = default;

  // For a database that other processes write too. `sink` (null: nobody) is
  // told of their changes, from a thread of the store's, before those
  // changes are acknowledged to whoever made them.
  virtual void WatchPages(PageChangeSink* sink) = 0;
  // Whether a page read now may be kept: true while every later change will
  // be reported, or while this process is the database's only writer.
  virtual bool MayKeepPages() = 0;
};

}  // namespace heartpage::server
