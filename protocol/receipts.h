#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/records.h"

// What comes back from a published page that asks its question, defined once
// for the program and the server: the visitors' two paths, and the owner's
// receipts operation (kReceipts in protocol/wire.h, its request in
// protocol/requests.h) with the record shape of its answer.
namespace heartpage::wire {

// The server keeps the first this many answers to a page's question; later
// ones are counted against the page's rate but not kept.
inline constexpr std::size_t kReceiptAnswersKept = 20;

// Times are "YYYY-MM-DD HH:MM:SS" in UTC, like claim times; empty for never.
struct ReceiptAnswer {
  int choice = 0;    // 1 or 2: which button was tapped
  std::string text;  // that button's text on the page as stored
  std::string time;
  bool operator==(const ReceiptAnswer&) const = default;
};

struct Receipt {
  // Empty when the stored page asks nothing; then nothing below ever grows.
  std::string question;
  std::array<std::string, 2> choices;
  long long opened = 0;
  std::string first_opened;
  std::string last_opened;
  // Oldest first, at most kReceiptAnswersKept: the last one is the one that counts.
  std::vector<ReceiptAnswer> answers;
  // Of an earlier version: when the page after it was stored.
  std::string replaced;
  // Of the page online: what came back from its versions that asked another
  // question, newest first; each has no earlier versions of its own.
  std::vector<Receipt> earlier;
  // Of the page online: its settings as stored, the code never, only whether
  // one is set.
  std::string opens;
  bool has_code = false;
  std::string hint;
  bool operator==(const Receipt&) const = default;
};

// The answer of operation 8 as records:
//   record 1: question, choice 1, choice 2, opened count, first opened, last opened
//   records 2…: choice number, its text, time — one per answer, oldest first
//   then for each earlier version, newest first:
//     kEarlierMark, question, choice 1, choice 2, opened count, first opened,
//       last opened, replaced
//     kEarlierAnswerMark, choice number, its text, time — one per answer
//   last, when the page has settings: kSettingsMark, opens, "1" or "0" for a
//     code, hint
// A reader that knows no earlier versions skips their records, whose first
// field is no choice number. The server drops the separators from texts
// that would split a record.
inline constexpr std::string_view kEarlierMark = "earlier";
inline constexpr std::string_view kEarlierAnswerMark = "earlier-answer";
inline constexpr std::string_view kSettingsMark = "settings";
std::vector<Record> ReceiptRecords(const Receipt& receipt);

// The program's side, on the answer in UTF-8; std::nullopt when the answer
// is not a receipt (no record 1, or a count that is no number).
std::optional<Receipt> ReceiptIn(std::string_view answer);

}  // namespace heartpage::wire
