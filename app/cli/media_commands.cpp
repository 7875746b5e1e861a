// Sending a file of one's own, taking the published page down, and giving
// the name up.
#include <fstream>
#include <iostream>
#include <stdexcept>

#include "app/cli/arguments.h"
#include "app/cli/commands.h"
#include "net/media_upload.h"
#include "net/server_requests.h"
#include "protocol/host.h"
#include "protocol/media_kind.h"
#include "publish/answer_messages.h"

namespace heartpage::cli {

namespace {

int Refused(std::string_view command, long status, std::string_view detail) {
  std::cerr << "heartpage-cli " << command << ": " << MessageForStatus(status);
  if (status != 0) std::cerr << " (" << status << (detail.empty() ? "" : ": ") << detail << ")";
  std::cerr << '\n';
  return 1;
}

}  // namespace

int UploadFile(const Arguments& args) {
  if (args.Words().size() != 1) throw UsageError("upload takes one FILE");
  const std::string& file = args.Words().front();
  const std::optional<std::string> machine_id = MachineIdFor("upload", args.Filled("--machine-id"));
  if (!machine_id) return 1;
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::cerr << "heartpage-cli upload: cannot read " << file << '\n';
    return 1;
  }
  std::string head(kMediaSniffBytes, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  if (!DetectMediaType(head)) return Refused("upload", 415, "checked here, nothing sent");
  const MediaUploadResult result = UploadMedia(MediaUploadAddress(), file, {}, *machine_id);
  if (!result.ok()) return Refused("upload", result.status, result.text);
  std::cout << result.text << '\n';
  return 0;
}

namespace {

// Sends `request` for the name this machine owns and prints `done` with the
// page's address: the take-down and the release alike.
int ActOnOwnedName(const Arguments& args, std::string_view command,
                   std::string (*request)(std::string_view, std::string_view),
                   std::string_view done) {
  const std::optional<std::string> machine_id = MachineIdFor(command, args.Filled("--machine-id"));
  if (!machine_id) return 1;
  const std::string name = FetchOwnedName(*machine_id);
  if (name.empty()) {
    std::cerr << "heartpage-cli " << command << ": this machine owns no name on "
              << EndpointAddress() << '\n';
    return 1;
  }
  const PostResult answer = PostToEndpoint(request(name, *machine_id));
  if (!answer.ok) return Refused(command, answer.status, answer.text);
  std::cout << done << ": " << PageAddress(name) << '\n';
  return 0;
}

}  // namespace

int Unpublish(const Arguments& args) {
  return ActOnOwnedName(args, "unpublish", TakeDownRequest, "taken down");
}

int Release(const Arguments& args) {
  return ActOnOwnedName(args, "release", ReleaseRequest, "released");
}

}  // namespace heartpage::cli
