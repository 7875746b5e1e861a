#include "publish/release_name.h"

#include <stdexcept>

#include "net/server_requests.h"
#include "protocol/host.h"
#include "publish/answer_messages.h"

namespace heartpage {

std::string ReleaseQuestion(std::string_view name) {
  return "更换名字将放弃“" + std::string(name) + "”：当前网页会被删除，" +
         std::string(upload_text::kAnswersGoToo) + "，" + PageAddress(name) +
         " 将无法打开，这个名字也可能被别人使用。确定要更换吗？";
}

ReleaseOutcome ReleaseName(std::string_view name, const UploadServices& services) {
  std::string machine_id;
  try {
    machine_id = services.machine_id();
  } catch (const std::exception&) {
    return {false, std::string(upload_text::kNoMachineId)};
  }
  const PostResult answer = services.post(ReleaseRequest(name, machine_id));
  if (answer.ok || answer.status == wire::status::kUnknown)
    return {true, std::string(upload_text::kReleased)};
  if (answer.status == 0) return {false, std::string(upload_text::kReleaseFailed)};
  return {false, std::string(MessageForStatus(answer.status))};
}

}  // namespace heartpage
