#include <iostream>
#include <stdexcept>

#include "app/cli/arguments.h"
#include "app/cli/commands.h"
#include "app/cli/field_report.h"
#include "net/server_requests.h"
#include "pages/holder.h"
#include "protocol/host.h"
#include "protocol/page_name.h"
#include "publish/page_gate.h"
#include "publish/upload.h"

namespace heartpage::cli {
namespace {

// The page options plus "--machine-id ID", which stands in for the disk
// serial on machines that have none readable (containers, some VMs).
struct PublishRequest {
  PageRequest page;
  std::string machine_id;
  std::string qr_file;  // --qr FILE.png
};

PublishRequest ParsePublishRequest(const Arguments& args) {
  return {ParsePageRequest(args), args.Filled("--machine-id"), args.Filled("--qr")};
}

}  // namespace

int Publish(const Arguments& args) {
  const PublishRequest request = ParsePublishRequest(args);
  if (!ReportFindings(request.page)) return 1;
  const std::optional<std::string> id = MachineIdFor("publish", request.machine_id);
  if (!id) return 1;
  const std::string& machine_id = *id;

  // Like the program at start-up: a machine keeps the name it owns and
  // publishes again only under that one.
  const std::string owned = FetchOwnedName(machine_id);
  // Capitals become small letters, as the upload dialog's name box enters them.
  std::string name = PageNameKey(request.page.name);
  if (name.empty()) {
    if (owned.empty()) throw UsageError("--name NAME is required; this machine owns no name yet");
    name = owned;
  } else if (!owned.empty() && owned != name) {
    std::cerr << "heartpage-cli publish: this machine publishes under the name \"" << owned
              << "\"; publish again under that name, or leave out --name\n";
    return 1;
  }

  const std::string page = BuildPage(request.page.style, request.page.fields);
  const UploadServices services{PostToEndpoint, [&machine_id] { return machine_id; }};
  const UploadOutcome outcome =
      Upload(name, name == owned, page, services, nullptr, request.page.settings);
  if (!outcome.owned_name.empty()) GGCT::Get().ZCYN = outcome.owned_name;
  if (!outcome.uploaded) {
    std::cerr << "heartpage-cli publish: " << outcome.status << " (" << EndpointAddress() << ")\n";
    return 1;
  }
  std::cout << outcome.address << '\n';
  // What the reader meets before the page, a line each under its address.
  for (const std::string& line :
       GateLines(request.page.settings.opens, !request.page.settings.code.empty(),
                 std::chrono::system_clock::now()))
    std::cout << '\t' << line << '\n';
  // The page is published either way; a code that could not be written is
  // still a failure of the command.
  if (!request.qr_file.empty() && !WriteQrPng(outcome.address, request.qr_file)) return 1;
  return 0;
}

int Settings(const Arguments&) {
  const auto fields = FetchSettings();
  if (!fields) {
    std::cerr << "heartpage-cli settings: no settings row from " << EndpointAddress()
              << " (the server is unreachable or answered with an error)\n";
    return 1;
  }
  for (std::size_t i = 0; i < fields->size(); ++i) std::cout << i << '\t' << (*fields)[i] << '\n';
  return 0;
}

}  // namespace heartpage::cli
