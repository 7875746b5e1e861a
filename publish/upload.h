#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "net/server_requests.h"
#include "protocol/page_name.h"
#include "protocol/page_settings.h"

// What the upload dialog decides, without its window: which typed characters
// a file name takes, the lookup, claim and store of a page, and the texts the
// dialog shows. The dialog supplies the poster and the machine identifier, so
// the decisions run without network or disk in the tests.
namespace heartpage {

// The texts of the status label and the note label.
namespace upload_text {
inline constexpr std::string_view kEmptyName = "文件名不能为空！";
inline constexpr std::string_view kNameTaken = "文件名已存在！";
inline constexpr std::string_view kUploaded = "上传成功！";
inline constexpr std::string_view kNameRule = "文件名只能为字母或数字，不能是中文或带有标点符号！";
inline constexpr std::string_view kCopyFirst =
    "需要上传成功后,您才能复制专属网址喔!请先去上传网页吧!";
inline constexpr std::string_view kCopied = "网址已复制,去发给您的TA展示一下吧!";
// A lookup, claim or store that did not complete with success: an
// unreachable server, a refused request, a time-out.
inline constexpr std::string_view kUploadFailed = "上传失败,请检查网络后重试!";
inline constexpr std::string_view kNoMachineId = "无法读取本机标识,不能上传!";
// From the click on "确认上传" until the outcome.
inline constexpr std::string_view kUploading = "正在上传…";
// The editor that opened the dialog is gone, and no page of it was built.
inline constexpr std::string_view kNoPage = "没有可上传的网页，请在编辑窗口中点击“上传网页”。";
// The question before a new name is claimed: its whole address.
std::string NameQuestion(std::string_view name);
// While a new name is looked up, before that question.
inline constexpr std::string_view kCheckingName = "正在查询这个名字…";
// After an upload that went unanswered, what the server has: said after the
// failure.
inline constexpr std::string_view kNothingOnline = "（服务器上没有这个网页）";
inline constexpr std::string_view kBeforeStillOnline = "（服务器上仍是之前的网页）";
inline constexpr std::string_view kNameKeptNoPage = "（名字已属于本机，网页还没有上传）";
// Opening on an owned name whose page is not online (taken down).
inline constexpr std::string_view kNoPageOnline = "名字仍属于本机，网页目前不在线上";
// "（服务器上的网页发布于 12月8日 23:01）"
std::string OnlineSince(std::string_view local_time);
// Above the address box: the outcome of an upload in this opening, or the
// page online now.
inline constexpr std::string_view kAddressCaption = "您的专属页面网址为：";
inline constexpr std::string_view kCurrentPageCaption = "当前网页：";
}  // namespace upload_text

// The texts about the address's QR code.
namespace qr_text {
inline constexpr std::string_view kSaved = "二维码已保存！";
inline constexpr std::string_view kNotSaved = "二维码保存失败！";
}  // namespace qr_text

// The poster's buttons and what they say.
namespace poster_text {
inline constexpr std::string_view kSave = "保存海报";
inline constexpr std::string_view kCopy = "复制海报";
inline constexpr std::string_view kMaking = "正在制作海报…";
inline constexpr std::string_view kSaved = "海报已保存！";
inline constexpr std::string_view kNotSaved = "海报保存失败！";
inline constexpr std::string_view kCopied = "海报已复制，粘贴到聊天里发给TA吧！";
}  // namespace poster_text

// How the status label shows a text: failures in red, successes in green,
// the progress text plain.
enum class StatusKind { kProgress, kSuccess, kFailure };
StatusKind KindOfStatus(std::string_view status);

// The note under the name box: the public address prefix and a placeholder.
std::string NoteText();

struct UploadServices {
  Poster post = PostToEndpoint;
  // The machine identifier; throws when it cannot be read.
  std::function<std::string()> machine_id;
};

// The machine identifier, or nothing when it cannot be read: whatever needed
// it is then refused with upload_text::kNoMachineId, before anything is sent.
std::optional<std::string> ReadMachineId(const UploadServices& services);

struct UploadOutcome {
  bool uploaded = false;   // the page is on the server under the name
  std::string name;        // the name as sent, capitals made small
  std::string status;      // the text for the status label
  std::string address;     // the public address; empty unless uploaded
  std::string owned_name;  // the name this machine owns afterwards; empty when none
  // A claim or store went unanswered: the server may have done it all the
  // same, and only asking it again tells.
  bool unanswered = false;
};

// Whether `name` can be claimed by this machine: free, or held by it
// already (`ours`: a claim whose store did not get through). Otherwise
// `status` says why not, a taken name as kNameTaken, a server that did not
// answer as the other refusals do. Two requests at most.
struct NameCheck {
  bool free = false;
  bool ours = false;
  std::string status;
};
NameCheck CheckName(std::string_view name, std::string_view machine_id,
                    const UploadServices& services);

// "确认上传": publishes `page` under `name` (capitals made small first). The
// machine identifier is read first; every store carries it. Unless
// `name_owned` (the machine owns the name already, so only the page is
// stored), the name is looked up and, when free, claimed for this machine. A
// taken name that the ownership lookup shows as this machine's own (a claim
// whose store failed) is not claimed again. The name becomes owned only when
// the page is stored: any step that did not complete with success leaves it
// as it was, except that a store the server refuses because the name belongs
// to another machine (403) reads as a taken name and leaves none owned.
// `checked`: the name was found free or this machine's just now (CheckName),
// so it is not looked up again. `settings` go with the store, the moment in
// UTC; none, and the page opens at once to anyone.
UploadOutcome Upload(std::string_view name, bool name_owned, std::string_view page,
                     const UploadServices& services, const NameCheck* checked = nullptr,
                     const wire::PageSettings& settings = {});

// "点击复制": the status after a copy request; `address` is what the address
// box holds, and only a non-empty one is copied.
std::string_view CopyStatus(std::string_view address);

}  // namespace heartpage
