#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/form_post.h"

// The conversation with the publishing server: the bodies of the five
// requests, and the reading of the record sets that queries answer.
namespace heartpage {

// The two tables the client names in its statements.
inline constexpr std::string_view kSettingsTable = "系统设置";
inline constexpr std::string_view kClaimsTable = "免费";

// Separators of an answer: a record starts after "いゼ", its fields end at "い".
inline constexpr std::string_view kRecordSeparator = "いゼ";
inline constexpr std::string_view kFieldSeparator = "い";

// The value with every single quote doubled, ready to stand between quotes in
// a statement: a name or identifier holding a quote can neither break the
// statement nor rewrite it.
std::string QuoteValue(std::string_view value);

// The statements, each value quoted as above.
std::string SettingsStatement();
std::string OwnershipLookupStatement(std::string_view machine_id);
std::string NameLookupStatement(std::string_view name);
std::string NameClaimStatement(std::string_view machine_id, std::string_view name);

// Form bodies: "zc=…&sql=…" and "zc=…&File=…&ID=…&data=…", every value
// encoded. The store names the machine so that the server can refuse a page
// for a name that another machine claimed. Identifiers travel whole: zero
// bytes, tabs and spaces are characters like any other.
std::string StatementBody(int operation, std::string_view statement);
std::string SettingsRequest();
std::string OwnershipLookupRequest(std::string_view machine_id);
std::string NameLookupRequest(std::string_view name);
std::string NameClaimRequest(std::string_view machine_id, std::string_view name);
std::string PageStoreRequest(std::string_view name, std::string_view machine_id,
                             std::string_view page);
// Operation 5, a temporary preview: "zc=…&ID=…&data=…". The answer is the
// preview's address.
inline constexpr int kPreviewStoreOperation = 5;
std::string PreviewStoreRequest(std::string_view machine_id, std::string_view page);
// Operation 6: "zc=…&File=…&ID=…" takes the published page of `name` down;
// the claim stays.
inline constexpr int kTakeDownOperation = 6;
std::string TakeDownRequest(std::string_view name, std::string_view machine_id);

// The fields of record 1 (the first row) of an answer; std::nullopt when the
// answer has no record 1, which is how a query that matched nothing reads.
// An empty record 1 has no fields.
std::optional<std::vector<std::string>> FirstRecord(std::string_view answer);

// The name this machine owns according to an ownership lookup answer: field 1
// of record 1 when its field 0 is exactly `machine_id`; empty otherwise.
std::string OwnedNameIn(std::string_view answer, std::string_view machine_id);

// Whether a name lookup answer shows `name` as taken: field 1 of record 1 is
// `name`, untrimmed, in any letter case (names are one namespace whatever
// their case). Field 0 is not read: the server does not say whose a name is.
bool NameTakenIn(std::string_view answer, std::string_view name);

// Sends one body to the publishing server's endpoint.
using Poster = std::function<PostResult(const std::string& body)>;
// Posts to EndpointAddress() with PostFormChecked.
PostResult PostToEndpoint(const std::string& body);

// The fields of the settings row (3: announcement, 4: current client's
// version label, 5: download address); std::nullopt when the server sent no
// row, which includes an unreachable server and an answer with an error
// status.
std::optional<std::vector<std::string>> FetchSettings(const Poster& post = PostToEndpoint);

// The name `machine_id` owns on the server; empty when it owns none or the
// server cannot be asked.
std::string FetchOwnedName(std::string_view machine_id, const Poster& post = PostToEndpoint);

}  // namespace heartpage
