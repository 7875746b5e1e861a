#include "publish/take_down.h"

#include <stdexcept>

#include "net/server_requests.h"
#include "publish/answer_messages.h"

namespace heartpage {

TakeDownOutcome TakeDown(std::string_view name, const UploadServices& services) {
  std::string machine_id;
  try {
    machine_id = services.machine_id();
  } catch (const std::exception&) {
    return {false, std::string(upload_text::kNoMachineId)};
  }
  const PostResult answer = services.post(TakeDownRequest(name, machine_id));
  if (answer.ok) return {true, std::string(upload_text::kTakenDown)};
  if (answer.status == 0) return {false, std::string(upload_text::kTakeDownFailed)};
  return {false, std::string(MessageForStatus(answer.status))};
}

}  // namespace heartpage
