#include "net/form_post.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>
#include <string_view>

#include "net/gbk.h"

namespace heartpage {
namespace {

// Answers are record sets of a few hundred bytes; anything this large is not
// an answer of ours and is not worth the memory.
constexpr std::size_t kMaxAnswerBytes = 16 * 1024 * 1024;

// How long one wait may last before the hook runs again. Socket activity ends
// a wait at once, so this bounds only the hook's rhythm, not the latency.
constexpr int kHookIntervalMs = 10;
constexpr int kIdleIntervalMs = 250;

std::mutex hook_mutex;
std::function<void()>& Hook() {
  static std::function<void()> hook;
  return hook;
}

std::function<void()> CurrentHook() {
  std::lock_guard lock(hook_mutex);
  return Hook();
}

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

// Detaches the transfer from its multi handle before either is cleaned up.
struct Attachment {
  CURLM* multi;
  CURL* easy;
  ~Attachment() { curl_multi_remove_handle(multi, easy); }
};

size_t CollectAnswer(char* data, size_t size, size_t count, void* target) {
  auto* answer = static_cast<std::string*>(target);
  const size_t bytes = size * count;
  if (answer->size() + bytes > kMaxAnswerBytes) return 0;  // aborts the transfer
  answer->append(data, bytes);
  return bytes;
}

// The request headers, in the order the server has always received them.
// "Host" is the only one the transport adds; "Expect:" with no value keeps
// libcurl from adding its own for large bodies.
HeaderList RequestHeaders(std::size_t body_size) {
  const std::string length = "Content-Length: " + std::to_string(body_size);
  const char* const lines[] = {
      "Accept: */*",
      "Accept-Language: zh-cn",
      "User-Agent: Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 5.1; Trident/4.0)",
      "Content-Type: application/x-www-form-urlencoded",
      "Referer;",  // present, with an empty value
      length.c_str(),
      "Connection: Keep-Alive",
      "Cache-Control: no-cache",
      "Expect:",
  };
  curl_slist* list = nullptr;
  for (const char* line : lines) {
    curl_slist* grown = curl_slist_append(list, line);
    if (grown == nullptr) {
      curl_slist_free_all(list);
      return nullptr;
    }
    list = grown;
  }
  return HeaderList(list);
}

}  // namespace

PostResult PostFormChecked(std::string address, std::string body, const PostLimits& limits) {
  InitCurlOnce();
  PostResult result;
  const EasyHandle easy(curl_easy_init());
  const MultiHandle multi(curl_multi_init());
  const HeaderList headers = RequestHeaders(body.size());
  if (!easy || !multi || !headers) return result;

  std::string answer;
  CURL* const e = easy.get();
  curl_easy_setopt(e, CURLOPT_URL, address.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(e, CURLOPT_POST, 1L);
  curl_easy_setopt(e, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, CollectAnswer);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &answer);
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connect.count()));
  curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.total.count()));
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  // The publishing host is reached directly, and nothing of one request (a
  // connection, a cookie) carries over into the next.
  curl_easy_setopt(e, CURLOPT_PROXY, "");
  curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);

  if (curl_multi_add_handle(multi.get(), e) != CURLM_OK) return result;
  const Attachment attachment{multi.get(), e};

  const std::function<void()> hook = CurrentHook();
  int running = 1;
  while (true) {
    if (curl_multi_perform(multi.get(), &running) != CURLM_OK) return result;
    if (running == 0) break;
    if (hook) hook();
    const int interval = hook ? kHookIntervalMs : kIdleIntervalMs;
    if (curl_multi_poll(multi.get(), nullptr, 0, interval, nullptr) != CURLM_OK) return result;
  }

  CURLcode outcome = CURLE_FAILED_INIT;
  int queued = 0;
  while (const CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
    if (message->msg == CURLMSG_DONE && message->easy_handle == e) outcome = message->data.result;
  }
  if (outcome != CURLE_OK) return result;  // a cut-off answer is no answer
  curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &result.status);
  result.ok = result.status >= 200 && result.status < 300;
  result.text = FromGbk(answer);
  return result;
}

std::string PostForm(std::string address, std::string body) {
  return PostFormChecked(std::move(address), std::move(body)).text;
}

std::function<void()> SetWaitHook(std::function<void()> hook) {
  std::lock_guard lock(hook_mutex);
  std::swap(Hook(), hook);
  return hook;
}

}  // namespace heartpage
