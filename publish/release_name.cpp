#include "publish/release_name.h"

#include "net/server_requests.h"
#include "protocol/host.h"
#include "publish/answer_messages.h"

namespace heartpage {

std::string ReleaseQuestion(std::string_view name) {
  return "更换名字将放弃“" + std::string(name) + "”：当前网页会被删除，" +
         std::string(upload_text::kAnswersGoToo) + "，" + PageAddress(name) +
         " 将无法打开，这个名字也可能被别人使用。确定要更换吗？";
}

NameActOutcome ReleaseName(std::string_view name, const UploadServices& services) {
  return ActOnName(ReleaseRequest, name, services, upload_text::kReleased,
                   upload_text::kReleaseFailed, /*done_if_unknown=*/true);
}

}  // namespace heartpage
