#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pages/builders.h"
#include "pages/styles.h"
#include "protocol/page_settings.h"

// Before a page is previewed or published, the fields that a visitor's
// browser will fetch are tried, and the date parts read as a calendar date,
// so that a page does not go out with a dead picture, an HTML page as its
// music or a 31st of February. Nothing here stops anything: the findings are
// for the user (or the command line) to weigh.
namespace heartpage {

struct Finding {
  std::string caption;  // the field's caption without its colon, e.g. "背景音乐地址"
  std::string reason;   // what looks wrong, in Chinese
  // About how the page opens (its moment, its code), not one of its fields.
  bool setting = false;
  // Going on regardless is not offered: the server would refuse the page.
  bool blocks = false;
};

struct CheckOptions {
  // All addresses together; what has not answered by then is reported as
  // not answering.
  std::chrono::milliseconds limit{3000};
  int max_redirects = 5;
  // Also list the text fields that still hold the defaults' sample text.
  bool sample_text = false;
  // Addresses on this origin ("http://host:port") are not tried: offline,
  // the program shows them from the copies it carries.
  std::string skip_origin = {};
  // None is tried at all: a server checking strangers' fields would fetch
  // whatever they name from inside its own network.
  bool try_addresses = true;
  // Where set, how an address known without the network would answer (its
  // status and content type), judged as a fetched answer is: a server knows
  // its own files. Nothing for an address it does not know.
  struct Answer {
    long status = 0;
    std::string content_type;
  };
  std::function<std::optional<Answer>(std::string_view address)> known_answer = {};
};

// The heading of the list of findings, before one line per finding.
inline constexpr std::string_view kFindingsHeading = "以下地址可能无法使用：";
// The heading when some findings are not about addresses.
inline constexpr std::string_view kSampleTextHeading = "请检查以下内容：";
// The reason given for an address that starts with "//": the page leaves
// it out, as it would lead to another site under the page's own scheme.
inline constexpr std::string_view kOtherHostReason =
    "以 // 开头的地址不会放进网页，请写完整的 http:// 或 https:// 网址";
// The reason given for a field that still holds sample text.
inline constexpr std::string_view kSampleTextReason = "还是示例文字";
// Said once, at the first preview without the server, instead of listing
// the host's own addresses as not answering.
inline constexpr std::string_view kOfflinePreviewNote =
    "现在没有连接服务器：预览中服务器上的图片、样式和脚本用程序自带的副本显示，"
    "音乐、视频和自己上传的文件不显示。";

// kSampleTextHeading when one of `findings` is about sample text or a
// setting, else kFindingsHeading.
std::string_view FindingsHeading(const std::vector<Finding>& findings);

// The rows of `style` (indices into style.rows) whose text fields still hold
// sample text of the defaults: a placeholder ("XXX", "某某"), a sample name
// that the field's default has, or a default that is only an example (the
// instant-messenger number, the signature). Boxes joined by a "+" count as
// one field, the first one's row. Addresses are not sample text: the site's
// own pictures and music are there to be used.
std::vector<std::size_t> SampleTextRows(const Style& style, const FieldSource& fields);

// Tries every picture, music, video and other address of `style` at once
// (each reachable with an http or https address, an answer without an error
// status, and a content type that fits the field), and reads its date parts.
// Empty address fields are left alone: an emptied field is the user's choice.
// With options.sample_text, also each field of SampleTextRows. Findings come
// in the order of the style's rows; none when all is well.
std::vector<Finding> CheckFields(const Style& style, const FieldSource& fields,
                                 const CheckOptions& options = {});

// One address of the given kind (kPicture, kMusic, kVideo or kAddress), as
// CheckFields tries it; the empty text when it looks usable.
struct AddressCheck {
  std::string caption;
  FieldKind kind = FieldKind::kAddress;
  std::string address;
};
std::vector<std::string> CheckAddresses(const std::vector<AddressCheck>& addresses,
                                        const CheckOptions& options = {});

// What is wrong with a page's code and hint, in the checks' words (captions
// 开启口令 and 口令提示): a code without a hint or a hint without a code, either
// too long or holding a control character (these block the upload), or a
// code easy to guess (which the sender may accept).
std::vector<Finding> CodeFindings(const wire::PageSettings& settings);

// "背景音乐地址：不是音乐（text/html）"
std::string FindingLine(const Finding& finding);

}  // namespace heartpage
