#include "publish/take_down.h"

#include <optional>

#include "net/server_requests.h"
#include "protocol/wire.h"
#include "publish/answer_messages.h"

namespace heartpage {

NameActOutcome ActOnName(std::string (*request)(std::string_view, std::string_view),
                         std::string_view name, const UploadServices& services,
                         std::string_view done, std::string_view failed, bool done_if_unknown) {
  const std::optional<std::string> machine_id = ReadMachineId(services);
  if (!machine_id) return {false, std::string(upload_text::kNoMachineId)};
  const PostResult answer = services.post(request(name, *machine_id));
  if (answer.ok || (done_if_unknown && answer.status == wire::status::kUnknown))
    return {true, std::string(done)};
  if (answer.status == 0) return {false, std::string(failed)};
  return {false, std::string(MessageForStatus(answer.status))};
}

NameActOutcome TakeDown(std::string_view name, const UploadServices& services) {
  return ActOnName(TakeDownRequest, name, services, upload_text::kTakenDown,
                   upload_text::kTakeDownFailed);
}

}  // namespace heartpage
