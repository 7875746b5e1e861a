#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/receipts.h"
#include "publish/upload.h"

// What came back from the page this machine published: how often it was
// opened and what the reader answered, as the upload dialog, the command
// line and the program's watch over new answers read it. No window here.
namespace heartpage {

namespace upload_text {
inline constexpr std::string_view kNotOpened = "还没有人打开";
// Nothing to upload here: the server could not be reached at all.
inline constexpr std::string_view kNoServer = "无法连接服务器,请检查网络后重试!";
}  // namespace upload_text

struct ReceiptOutcome {
  // The page's receipt; none when the server could not say.
  std::optional<wire::Receipt> receipt;
  // Why not, for the user: the server's status as it reads in Chinese.
  std::string error;
  // The server's status; 0 when none answered.
  long status = 0;
};

// Asks the server for the receipt of `name` under this machine's identifier:
// one request.
ReceiptOutcome FetchReceipt(std::string_view name, const UploadServices& services);

// The answer that counts (the last one), if any.
const wire::ReceiptAnswer* LastAnswer(const wire::Receipt& receipt);

// The receipt in one line, times in the local time zone:
// "已打开 3 次 · 最近 12月8日 21:03 · TA的回答：我愿意（21:05）"; "TA还没有回答" in place
// of the answer while there is none, nothing of answers on a page that asks
// nothing, and upload_text::kNotOpened while nobody has opened the page.
std::string ReceiptText(const wire::Receipt& receipt);

// An answer as the notice of its arrival says it: "TA的回答：我愿意（12月8日 21:05）".
std::string AnswerText(const wire::ReceiptAnswer& answer);

// The page's earlier versions in a line each, newest first:
// "上一版：TA的回答：好的（12月8日 23:01）", "上上版：已打开 2 次", "更早：…".
std::vector<std::string> EarlierLines(const wire::Receipt& receipt);

// The newest answer the page has had, of any version, as the heart tells
// it: AnswerText, "上一版：" before it when an earlier version had it; empty
// when nothing was ever answered.
std::string NewestAnswerText(const wire::Receipt& receipt);

// Said before "确认上传" replaces a page that came back with something:
// that it stays (the same question goes on counting it; another keeps it as
// the earlier version). Empty when nothing came back.
std::string ReplaceNote(const wire::Receipt& receipt);

// Counts the pages this program published since it started: what a page
// said of itself (whether it asks anything) holds until the next one.
void NotePagePublished();
unsigned PagesPublished();

// The local "M月d日 HH:mm" of a UTC "YYYY-MM-DD HH:MM:SS"; the text as it is
// when it is not such a time.
std::string LocalTimeText(std::string_view utc);

}  // namespace heartpage
