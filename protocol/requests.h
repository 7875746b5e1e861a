#pragma once

#include <string>
#include <string_view>

#include "protocol/page_settings.h"
#include "protocol/records.h"
#include "protocol/statements.h"

// The program's requests to the endpoint and its reading of their answers,
// without any transport: the bodies are what net/ posts.
namespace heartpage {

// Form bodies: "zc=…&sql=…" and "zc=…&File=…&ID=…&data=…", every value
// encoded; the statements are those of protocol/statements.h. The store names the machine so that
// the server can refuse a page for a name that another machine claimed. Identifiers travel whole:
// zero bytes, tabs and spaces are characters like any other.
std::string StatementBody(int operation, std::string_view statement);
std::string SettingsRequest();
std::string OwnershipLookupRequest(std::string_view machine_id);
std::string NameLookupRequest(std::string_view name);
std::string NameClaimRequest(std::string_view machine_id, std::string_view name);
// The settings travel only where they are set, so a page without any is
// stored as an old client stores it.
std::string PageStoreRequest(std::string_view name, std::string_view machine_id,
                             std::string_view page, const wire::PageSettings& settings = {});
// Operation 5, a temporary preview: "zc=…&ID=…&data=…". The answer is the
// preview's address.
std::string PreviewStoreRequest(std::string_view machine_id, std::string_view page);
// Operation 6: "zc=…&File=…&ID=…" takes the published page of `name` down;
// the claim stays.
std::string TakeDownRequest(std::string_view name, std::string_view machine_id);
// Operation 7: "zc=…&File=…&ID=…" gives the name up: its page goes with the
// claim, and the name is free for anyone.
std::string ReleaseRequest(std::string_view name, std::string_view machine_id);
// Operation 8: "zc=…&File=…&ID=…" asks for the receipts of `name`, which
// wire::ReceiptIn reads; 403 to an identifier that does not own it.
std::string ReceiptsRequest(std::string_view name, std::string_view machine_id);

// The name this machine owns according to an ownership lookup answer: field 1
// of record 1 when its field 0 is exactly `machine_id`; empty otherwise.
std::string OwnedNameIn(std::string_view answer, std::string_view machine_id);

// Whether a name lookup answer shows `name` as taken: field 1 of record 1 is
// `name`, untrimmed, in any letter case (names are one namespace whatever
// their case). Field 0 is not read: the server does not say whose a name is.
bool NameTakenIn(std::string_view answer, std::string_view name);

}  // namespace heartpage
