#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/receipts.h"
#include "server/storage/storage_error.h"

namespace heartpage::server {

// The question a page asks, as the page check reads it out of the page;
// empty text when it asks none.
struct PageQuestion {
  std::string text;
  std::array<std::string, 2> choices;
  bool operator==(const PageQuestion&) const = default;
};

// One version of a page's bytes (StoredPage::modified and etag): receipts
// belong to the question of one version.
struct PageVersion {
  std::int64_t modified = 0;
  std::string etag;
};

struct ReceiptAnswerAt {
  int choice = 0;  // 1 or 2
  std::int64_t at = 0;
};

// What came back from a version of a page that asked another question than
// the one online now, kept when a store replaced it.
struct EarlierReceipts {
  PageQuestion question;
  std::int64_t opened = 0;
  std::int64_t first_opened = 0;
  std::int64_t last_opened = 0;
  std::int64_t replaced = 0;             // when the version after it was stored
  std::vector<ReceiptAnswerAt> answers;  // oldest first
};

// Versions of a page whose receipts outlive them: a republished page never
// takes her answer along unseen, and what is kept stays bounded.
inline constexpr std::size_t kEarlierVersionsKept = 5;

// What came back from a page: how often it was opened, and its first answers.
// Nothing about who sent them. Times are seconds since the epoch, 0 for never.
struct PageReceipts {
  std::string etag;  // of the version bound to
  PageQuestion question;
  std::int64_t opened = 0;
  std::int64_t first_opened = 0;
  std::int64_t last_opened = 0;
  using Answer = ReceiptAnswerAt;
  std::vector<Answer> answers;  // oldest first, at most kReceiptAnswersKept
  // Newest first, at most kEarlierVersionsKept, only those that were opened.
  std::vector<EarlierReceipts> earlier;
};

// What one page takes a minute from all its visitors together, beside what
// each address may send; openings are counted, not kept, so they may come
// faster.
inline constexpr std::int64_t kPageAnswersPerMinute = wire::kReceiptAnswersKept;
inline constexpr std::int64_t kPageOpeningsPerMinute = 60;
// What one visitor's address may send one page in a minute: a few addresses
// cannot spend the page's minute and shut its real reader out. Past the
// page's budget, an address that has sent this page nothing this minute is
// still counted once, up to kNewcomerRoom times the budget in all.
inline constexpr std::int64_t kVisitorAnswersPerMinute = 3;
inline constexpr std::int64_t kVisitorOpeningsPerMinute = 6;
inline constexpr std::int64_t kNewcomerRoom = 2;

// Tries at a page's code: each address has a few in a window that begins at
// its first, and the page a budget over all addresses. Past the page's
// budget every try takes a turn of the page's pace: the first at once, each
// next one after twice the wait before it, up to the longest, so that new
// addresses buy a guesser nothing (10,000 codes take her two months). An
// address that comes before the next turn is given its own turn, and told
// when: the turn is kept for it, so a guesser can never take the reader's
// place once it is given, only come before it; turns are given out no
// further ahead than a wait a person may bear. The pace is forgotten once
// the page has had no turn for a day.
inline constexpr std::int64_t kUnlockWindowSeconds = 600;
inline constexpr std::int64_t kUnlockTriesPerAddress = 5;
inline constexpr std::int64_t kUnlockTriesPerPage = 30;
inline constexpr std::int64_t kUnlockFirstPaceSeconds = 30;
inline constexpr std::int64_t kUnlockLongestPaceSeconds = 480;
inline constexpr std::int64_t kUnlockTurnsAheadSeconds = 3600;
inline constexpr std::int64_t kUnlockPaceKeptSeconds = 86400;

// One window's tries: of an address at a page, or of the page in all.
struct UnlockTries {
  std::int64_t since = 0;  // when the window began
  std::int64_t tries = 0;
  bool operator==(const UnlockTries&) const = default;
};

// The page's pace: when its next turn is free, and how many it gave out.
struct UnlockPace {
  std::int64_t next = 0;
  std::int64_t turns = 0;  // none: the page is within its budget
  bool operator==(const UnlockPace&) const = default;
};

// The wait after the `turns`-th turn.
inline std::int64_t UnlockPaceAfter(std::int64_t turns) {
  std::int64_t pace = kUnlockFirstPaceSeconds;
  for (std::int64_t i = 1; i < turns && pace < kUnlockLongestPaceSeconds; ++i) pace *= 2;
  return std::min(pace, kUnlockLongestPaceSeconds);
}

// Whether a try at `now` may go ahead, and the windows, pace and turn of
// the address it leaves (turn 0: none kept), which the engine writes back
// when they changed; when not, after how many seconds it would. Both
// engines decide by this, inside the transaction that reads and writes
// them. An `address` of no visitor (an empty key) counts only in the page's
// window, as one that has tried, and is given no turn.
struct UnlockVerdict {
  bool allowed = false;
  std::int64_t retry_after = 0;
  UnlockTries address;
  UnlockTries page;
  UnlockPace pace;
  std::int64_t turn = 0;
  bool waits_turn = false;  // refused until the turn of the page's pace
};
inline UnlockVerdict DecideUnlockTry(UnlockTries address, UnlockTries page, UnlockPace pace,
                                     std::int64_t turn, bool known_address, std::int64_t now) {
  const auto current = [now](UnlockTries window) {
    return now - window.since >= kUnlockWindowSeconds || window.since > now ? UnlockTries{now, 0}
                                                                            : window;
  };
  address = current(address);
  page = current(page);
  if (pace.turns > 0 && now - pace.next >= kUnlockPaceKeptSeconds) pace = {};
  const auto ends = [now](const UnlockTries& window) {
    return std::max<std::int64_t>(1, window.since + kUnlockWindowSeconds - now);
  };
  const auto go_ahead = [&](std::int64_t kept_turn) {
    ++address.tries;
    ++page.tries;
    return UnlockVerdict{true, 0, address, page, pace, kept_turn};
  };
  const auto await_turn = [&](std::int64_t seconds, std::int64_t kept_turn) {
    return UnlockVerdict{false, std::max<std::int64_t>(1, seconds), address, page, pace, kept_turn,
                         true};
  };
  if (address.tries >= kUnlockTriesPerAddress)
    return {false, ends(address), address, page, pace, turn};
  if (pace.turns == 0 && page.tries < kUnlockTriesPerPage) return go_ahead(0);
  if (turn > 0) return now >= turn ? go_ahead(0) : await_turn(turn - now, turn);
  const std::int64_t slot = std::max(now, pace.next);
  if (slot - now > kUnlockTurnsAheadSeconds)
    return await_turn(slot - now - kUnlockTurnsAheadSeconds, 0);
  if (slot > now && !known_address) return await_turn(slot - now, 0);
  ++pace.turns;
  pace.next = slot + UnlockPaceAfter(pace.turns);
  return slot <= now ? go_ahead(0) : await_turn(slot - now, slot);
}

enum class VisitResult {
  kCounted,
  kNoQuestion,  // the version bound to asks nothing
  kUnbound,     // bound to no version, or to another than the visitor's
  kTooMany,     // past the page's or the visitor's rate this minute; nothing counted
};

// The receipts of published pages. Both engines keep them by page name; a
// release of the name takes them along, whichever way the claim goes.
class ReceiptStore {
 public:
  virtual ~ReceiptStore() = default;

  // Binds the receipts of `name` to `version`, which asks `question`. What
  // came back is kept when the version bound before asked the same question
  // with the same two answers, and begins afresh otherwise: the answers
  // would belong to another question. A version older than the one bound
  // changes nothing, so that a reader holding the page from before a store
  // cannot undo what the store bound. Nothing for a name nobody claims.
  // Receipts that begin afresh keep what came back before, if anything did,
  // among the earlier versions (replaced at version.modified), the oldest
  // beyond kEarlierVersionsKept let go.
  virtual void BindQuestion(std::string_view name, const PageVersion& version,
                            const PageQuestion& question) = 0;

  // An opening, or answer `choice` (1 or 2), at `now`, from a visitor of
  // version `etag`; counted only while the receipts are bound to it. An
  // empty `etag` counts for whatever version is bound. Answers beyond the
  // first kReceiptAnswersKept are counted in the rates but not kept: a
  // flood from those who learnt the address later never pushes out what
  // the page's first readers said. `visitor` is the sender's
  // limit key, kept only as a keyed hash and only for the minute it counts
  // in; empty counts under no address. The rates hold in every process
  // sharing the database, since they are counted in it.
  virtual VisitResult CountOpening(std::string_view name, std::string_view etag,
                                   std::string_view visitor, std::int64_t now) = 0;
  virtual VisitResult AddAnswer(std::string_view name, std::string_view etag,
                                std::string_view visitor, int choice, std::int64_t now) = 0;

  // Nothing while the receipts of `name` are bound to no version.
  virtual std::optional<PageReceipts> LoadReceipts(std::string_view name) = 0;

  // Takes a try at the code of `name` for `visitor` (a limit key, kept only
  // as a keyed hash and only for its window or turn) at `now`, by
  // DecideUnlockTry; every process sharing the database counts in the same
  // windows and keeps the same pace.
  virtual UnlockVerdict TakeUnlockTry(std::string_view name, std::string_view visitor,
                                      std::int64_t now) = 0;
};

}  // namespace heartpage::server
