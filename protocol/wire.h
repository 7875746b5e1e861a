#pragma once

#include <string_view>

// The vocabulary of the publishing protocol, one definition for the program
// and the server. Text operations are form posts to the endpoint, every value
// in the decimal value encoding (text/value_encoding.h) and the operation
// chosen by `zc`; files of the sender's own are the one exception, raw bytes
// to the media path.
namespace heartpage::wire {

// Paths on the publishing host.
inline constexpr std::string_view kEndpointPath = "/asp/index.asp";
inline constexpr std::string_view kPagePrefix = "/Test/";
// The pages' scripts, style sheets, pictures and music, by style.
inline constexpr std::string_view kAssetPrefix = "/biaobai/";
inline constexpr std::string_view kPreviewPrefix = "/preview/";
inline constexpr std::string_view kMediaPath = "/api/media";
inline constexpr std::string_view kMediaPrefix = "/media/";
// The maker in the browser's door to the same upload: its owner key in
// kOwnerKeyHeader, where the program puts its identifier in kMachineIdHeader.
inline constexpr std::string_view kMakerMediaPath = "/api/make/media";
// A published page's script posts here, followed by the page's name: an
// opening with an empty body, an answer with "answer=1" or "answer=2" as
// text/plain. Both stay CORS-simple requests, which a sandboxed page may send
// without a preflight.
inline constexpr std::string_view kOpenedPrefix = "/api/opened/";
inline constexpr std::string_view kAnswerPrefix = "/api/answer/";
inline constexpr std::string_view kAnswerField = "answer";
// The maker in the browser: its form, the field table it is built from
// (JSON), and its operations, which speak UTF-8 JSON and are read into the
// endpoint's own requests. Each operation's name follows the prefix.
inline constexpr std::string_view kMakerPath = "/make";
inline constexpr std::string_view kStylesPath = "/api/styles";
inline constexpr std::string_view kMakerPrefix = "/api/make/";
// The header of a media post naming the sender's machine, in the value
// encoding.
inline constexpr std::string_view kMachineIdHeader = "X-Machine-Id";
inline constexpr std::string_view kOwnerKeyHeader = "X-Owner-Key";

// The form fields of the endpoint.
inline constexpr std::string_view kOperationField = "zc";
inline constexpr std::string_view kStatementField = "sql";
inline constexpr std::string_view kFileField = "File";
inline constexpr std::string_view kMachineIdField = "ID";
inline constexpr std::string_view kDataField = "data";
// A store's optional settings (protocol/page_settings.h): the moment the page
// opens, in UTC, and the code it asks for with the hint it shows.
inline constexpr std::string_view kOpensField = "opens";
inline constexpr std::string_view kCodeField = "code";
inline constexpr std::string_view kHintField = "hint";

// The operations, by their `zc` numbers.
inline constexpr int kQuery = 1;         // sql: a lookup; answers records
inline constexpr int kStatement = 2;     // sql: a name claim
inline constexpr int kStorePage = 4;     // File, ID, data
inline constexpr int kStorePreview = 5;  // ID, data; answers the preview's address
inline constexpr int kTakeDown = 6;      // File, ID
inline constexpr int kReleaseName = 7;   // File, ID: the claim, its page and its record go
inline constexpr int kReceipts = 8;  // File, ID: what came back from the page (protocol/receipts.h)
inline constexpr int kPageFields = 9;  // File, ID: the fields the page online was built of

// The two tables the statements name, and their columns.
inline constexpr std::string_view kSettingsTable = "系统设置";
inline constexpr std::string_view kClaimsTable = "免费";
inline constexpr std::string_view kMachineIdColumn = "硬盘ID";
inline constexpr std::string_view kNameColumn = "文件名";

// Separators of a record set, in UTF-8 (GBK A4A4 A5BC and A4A4 on the wire):
// a record starts after "いゼ", each of its fields ends at "い".
inline constexpr std::string_view kRecordSeparator = "いゼ";
inline constexpr std::string_view kFieldSeparator = "い";

// What each answer's status means, for every operation alike. Error bodies
// are one short line.
namespace status {
inline constexpr int kOk = 200;            // a record set or a short text
inline constexpr int kMalformed = 400;     // nothing changed; the line says what is wrong
inline constexpr int kNotYours = 403;      // another machine's, or a refused origin
inline constexpr int kUnknown = 404;       // no such name or page
inline constexpr int kTaken = 409;         // the name is claimed already
inline constexpr int kGone = 410;          // taken down or expired
inline constexpr int kTooLarge = 413;      // over a size limit or quota
inline constexpr int kWrongType = 415;     // not a kind of file the server keeps
inline constexpr int kUnacceptable = 422;  // well-formed, but not a page the program builds
inline constexpr int kTooMany = 429;       // over a rate, with Retry-After
inline constexpr int kWithdrawn = 451;     // taken down by the site's operator
inline constexpr int kBusy = 503;          // try again, with Retry-After
inline constexpr int kOutOfSpace = 507;    // past the server's storage
}  // namespace status

}  // namespace heartpage::wire
