#include "publish/scan_preview.h"

#include <stdexcept>
#include <string_view>

#include "protocol/host.h"
#include "protocol/preview_terms.h"
#include "protocol/wire.h"
#include "publish/answer_messages.h"

namespace heartpage {

std::string ScanHint(std::string_view until) {
  return "用手机微信或浏览器扫一扫，" + wire::PreviewTerms() + "（本地址至 " + std::string(until) +
         "）";
}

ScanPreviewOutcome StoreScanPreview(std::string_view page, const UploadServices& services) {
  const std::optional<std::string> machine_id = ReadMachineId(services);
  if (!machine_id) return {false, {}, std::string(upload_text::kNoMachineId)};
  const PostResult answer = services.post(PreviewStoreRequest(*machine_id, page));
  if (!answer.ok) {
    // The server's refusals read as everywhere else; only silence is the
    // preview's own failure.
    const std::string_view status = answer.status == 0 ? scan_text::kFailed
                                    : answer.status == wire::status::kTooLarge
                                        ? scan_text::kTooLarge
                                        : MessageForStatus(answer.status);
    return {false, {}, std::string(status)};
  }
  // The code shown is what a phone opens: only the token comes from the
  // answer, and the address is made on our own host, as the page's is.
  const std::string_view text = answer.text;
  const std::size_t at = text.rfind(wire::kPreviewPrefix);
  std::string token(at == std::string_view::npos ? std::string_view()
                                                 : text.substr(at + wire::kPreviewPrefix.size()));
  while (!token.empty() && (token.back() == '\n' || token.back() == '\r')) token.pop_back();
  const bool valid =
      token.size() >= 16 && token.size() <= 64 &&
      token.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789") == std::string::npos;
  if (!valid) return {false, {}, std::string(scan_text::kFailed)};
  std::string address = PublishingOrigin() + std::string(wire::kPreviewPrefix) + token;
  return {true, std::move(address), {}};
}

}  // namespace heartpage
