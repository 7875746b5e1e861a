#include "net/media_upload.h"

#include <curl/curl.h>

#include <cstdio>
#include <memory>

#include "net/curl_stall.h"
#include "net/curl_trust.h"
#include "protocol/host.h"
#include "protocol/media_kind.h"
#include "protocol/wire.h"
#include "text/value_encoding.h"

namespace heartpage {
namespace {

constexpr std::size_t kMaxAnswerBytes = 4096;

struct Transfer {
  std::FILE* file = nullptr;
  std::string_view bytes;
  std::uint64_t offset = 0;
  std::string answer;
  const MediaProgress* progress = nullptr;
  bool cancelled = false;
};

size_t ReadBody(char* buffer, size_t size, size_t count, void* data) {
  auto* transfer = static_cast<Transfer*>(data);
  const size_t room = size * count;
  if (transfer->file != nullptr) {
    const size_t got = std::fread(buffer, 1, room, transfer->file);
    if (got == 0 && std::ferror(transfer->file)) return CURL_READFUNC_ABORT;
    return got;
  }
  const size_t got = std::min<std::uint64_t>(room, transfer->bytes.size() - transfer->offset);
  std::copy_n(transfer->bytes.data() + transfer->offset, got, buffer);
  transfer->offset += got;
  return got;
}

size_t Collect(char* data, size_t size, size_t count, void* target) {
  auto* transfer = static_cast<Transfer*>(target);
  const size_t bytes = size * count;
  if (transfer->answer.size() + bytes > kMaxAnswerBytes) return 0;
  transfer->answer.append(data, bytes);
  return bytes;
}

int Progress(void* data, curl_off_t, curl_off_t, curl_off_t total, curl_off_t sent) {
  auto* transfer = static_cast<Transfer*>(data);
  if (*transfer->progress && !(*transfer->progress)(sent, total)) {
    transfer->cancelled = true;
    return 1;  // aborts: the server sees the connection cut and stores nothing
  }
  return 0;
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
struct EasyCleanup {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListCleanup {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

std::string MediaUploadAddress() {
  return PublishingOrigin() + std::string(wire::kMediaPath);
}

MediaUploadResult UploadMedia(const std::string& address, const std::filesystem::path& path,
                              std::string_view bytes, std::string_view machine_id,
                              const MediaProgress& progress, std::chrono::milliseconds total_limit,
                              std::chrono::seconds stall_limit) {
  MediaUploadResult result;
  Transfer transfer;
  transfer.progress = &progress;
  transfer.bytes = bytes;
  std::unique_ptr<std::FILE, FileCloser> file;
  std::uint64_t size = bytes.size();
  if (bytes.empty()) {
    file.reset(std::fopen(path.c_str(), "rb"));
    if (!file) return result;
    std::error_code error;
    size = std::filesystem::file_size(path, error);
    if (error) return result;
    transfer.file = file.get();
  }
  const std::unique_ptr<CURL, EasyCleanup> easy(curl_easy_init());
  if (!easy) return result;
  CURL* const e = easy.get();
  curl_slist* list = nullptr;
  const std::string id_line = std::string(wire::kMachineIdHeader) + ": " + EncodeValue(machine_id);
  for (const char* line :
       {"Content-Type: application/octet-stream", "Expect:", "Accept: */*", id_line.c_str()})
    list = curl_slist_append(list, line);
  const std::unique_ptr<curl_slist, ListCleanup> headers(list);
  curl_easy_setopt(e, CURLOPT_URL, address.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_POST, 1L);
  curl_easy_setopt(e, CURLOPT_READFUNCTION, ReadBody);
  curl_easy_setopt(e, CURLOPT_READDATA, &transfer);
  curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(size));
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, Progress);
  curl_easy_setopt(e, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, 10'000L);
  curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(total_limit.count()));
  LimitStalls(e, stall_limit);
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_PROXY, "");
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
  if (address.starts_with("https:") && !TrustExtraAuthorities(e)) return result;
  const CURLcode outcome = curl_easy_perform(e);
  result.cancelled = transfer.cancelled;
  if (outcome != CURLE_OK) {
    // A server that refuses a file early answers before taking all of it;
    // its answer still counts.
    long status = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
    if (result.cancelled || status < 400) return result;
  }
  curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &result.status);
  result.text = transfer.answer;
  while (!result.text.empty() && (result.text.back() == '\n' || result.text.back() == '\r'))
    result.text.pop_back();
  return result;
}

}  // namespace heartpage
