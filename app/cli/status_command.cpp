// What came back from the published page: openings and the reader's answer.
#include <iostream>
#include <stdexcept>

#include "app/cli/arguments.h"
#include "app/cli/commands.h"
#include "net/server_requests.h"
#include "protocol/host.h"
#include "publish/answer_messages.h"
#include "publish/page_gate.h"
#include "publish/receipts.h"

namespace heartpage::cli {

int Status(const Arguments& args) {
  const std::optional<std::string> id = MachineIdFor("status", args.Filled("--machine-id"));
  if (!id) return 1;
  const std::string& machine_id = *id;
  const PostResult lookup = PostToEndpoint(OwnershipLookupRequest(machine_id));
  if (!lookup.ok) {
    std::cerr << "heartpage-cli status: "
              << (lookup.status == 0 ? upload_text::kNoServer : MessageForStatus(lookup.status))
              << " (" << EndpointAddress() << ")\n";
    return 1;
  }
  const std::optional<OwnedPage> owned =
      FetchOwnedPage(machine_id, [&lookup](const std::string&) { return lookup; });
  // Owning nothing is a state like any other, not a failure.
  if (owned->name.empty()) {
    std::cout << "this machine owns no name on " << EndpointAddress() << '\n';
    return 0;
  }
  const UploadServices services{PostToEndpoint, [&machine_id] { return machine_id; }};
  const ReceiptOutcome outcome = FetchReceipt(owned->name, services);
  if (!outcome.receipt) {
    std::cerr << "heartpage-cli status: " << outcome.error << '\n';
    return 1;
  }
  const wire::Receipt& receipt = *outcome.receipt;
  std::cout << PageAddress(owned->name) << '\t' << ReceiptText(receipt) << '\n';
  // Taken down: what came back from it stays, but no page answers there, so
  // it has no opening time or code either.
  if (owned->stored_at.empty()) {
    std::cout << "\tnot online: the name is kept, no page is stored under it\n";
    for (const std::string& line : EarlierLines(receipt)) std::cout << '\t' << line << '\n';
    return 0;
  }
  // How it opens, the code only as set or not: the server keeps no more.
  std::cout << "\topens: "
            << (receipt.opens.empty() ? "at once" : LocalMinuteOfUtc(receipt.opens) + " local time")
            << (!receipt.opens.empty() && receipt.opens <= NowUtc() ? " (passed)" : "") << '\n';
  std::cout << "\tcode: " << (receipt.has_code ? "set, hint: " + receipt.hint : "not set") << '\n';
  // What came back from the versions it replaced, a line each under it.
  for (const std::string& line : EarlierLines(receipt)) std::cout << '\t' << line << '\n';
  return 0;
}

}  // namespace heartpage::cli
