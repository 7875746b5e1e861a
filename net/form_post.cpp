#include "net/form_post.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string_view>

#include "net/curl_stall.h"
#include "net/curl_trust.h"
#include "text/gbk.h"

namespace heartpage {
namespace {

// Answers are record sets of a few hundred bytes; anything this large is not
// an answer of ours and is not worth the memory.
constexpr std::size_t kMaxAnswerBytes = 16 * 1024 * 1024;

// Socket activity ends a wait at once; this bounds only how often libcurl's
// own timers (time-outs, retries) are looked at.
constexpr int kIdleIntervalMs = 250;

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

std::optional<std::string> ReadSmallFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string content;
  constexpr std::size_t kMaxBytes = 16 * 1024 * 1024;  // a bundle is a few hundred KB
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    content.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (content.size() > kMaxBytes) return std::nullopt;
  }
  if (in.bad()) return std::nullopt;
  return content;
}

}  // namespace

// Under one byte a second for the whole stall time is no progress.
void LimitStalls(CURL* easy, std::chrono::seconds stall) {
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME,
                   static_cast<long>(std::max<std::int64_t>(1, stall.count())));
}

// Certificates are verified against the system's authorities and, when
// HEARTPAGE_CA_FILE names a file, the authorities in it as well. libcurl
// replaces its default bundle with any bundle it is given (a file or a blob),
// so the blob holds the default bundle followed by the extra file; the
// default folder of hashed certificates stays in use either way. False when
// the extra file cannot be read: the request is not made with less trust
// than was configured, nor with more.
bool TrustExtraAuthorities(CURL* easy) {
  const char* extra_path = std::getenv("HEARTPAGE_CA_FILE");
  if (extra_path == nullptr || *extra_path == '\0') return true;
  const std::optional<std::string> extra = ReadSmallFile(extra_path);
  if (!extra) return false;
  std::string bundle;
  char* default_path = nullptr;
  if (curl_easy_getinfo(easy, CURLINFO_CAINFO, &default_path) == CURLE_OK &&
      default_path != nullptr) {
    bundle = ReadSmallFile(default_path).value_or(std::string());
  }
  bundle += "\n";
  bundle += *extra;
  curl_blob blob{bundle.data(), bundle.size(), CURL_BLOB_COPY};
  return curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob) == CURLE_OK;
}

namespace {

// One exchange with `address`: a form post of `*body`, or a GET without one.
// False for a transport failure or a cut-off answer; otherwise `status` is
// the answer's and `answer` its body as it came.
bool Exchange(const std::string& address, const std::string* body, const PostLimits& limits,
              std::string& answer, long& status) {
  const EasyHandle easy(curl_easy_init());
  const MultiHandle multi(curl_multi_init());
  const HeaderList headers = body != nullptr ? RequestHeaders(body->size()) : nullptr;
  if (!easy || !multi || (body != nullptr && !headers)) return false;

  CURL* const e = easy.get();
  curl_easy_setopt(e, CURLOPT_URL, address.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  if (body != nullptr) {
    curl_easy_setopt(e, CURLOPT_POST, 1L);
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, body->data());
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());
  } else {
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
  }
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, CollectAnswer);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &answer);
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connect.count()));
  curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.total.count()));
  LimitStalls(e, limits.stall);
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  // The publishing host is reached directly, and nothing of one request (a
  // connection, a cookie) carries over into the next.
  curl_easy_setopt(e, CURLOPT_PROXY, "");
  curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);
  // A certificate that fails verification ends the request like any other
  // transport failure.
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
  if (address.starts_with("https:") && !TrustExtraAuthorities(e)) return false;

  if (curl_multi_add_handle(multi.get(), e) != CURLM_OK) return false;
  const Attachment attachment{multi.get(), e};

  int running = 1;
  while (true) {
    if (curl_multi_perform(multi.get(), &running) != CURLM_OK) return false;
    if (running == 0) break;
    if (curl_multi_poll(multi.get(), nullptr, 0, kIdleIntervalMs, nullptr) != CURLM_OK)
      return false;
  }

  CURLcode outcome = CURLE_FAILED_INIT;
  int queued = 0;
  while (const CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
    if (message->msg == CURLMSG_DONE && message->easy_handle == e) outcome = message->data.result;
  }
  if (outcome != CURLE_OK) return false;  // a cut-off answer is no answer
  curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
  return true;
}

}  // namespace

PostResult PostFormChecked(std::string address, std::string body, const PostLimits& limits) {
  PostResult result;
  std::string answer;
  if (!Exchange(address, &body, limits, answer, result.status)) {
    result.status = 0;
    return result;
  }
  result.ok = result.status >= 200 && result.status < 300;
  result.text = FromGbk(answer);
  return result;
}

FetchResult FetchAddress(const std::string& address, const PostLimits& limits) {
  FetchResult result;
  if (!Exchange(address, nullptr, limits, result.bytes, result.status)) return {};
  result.ok = result.status >= 200 && result.status < 300;
  return result;
}

}  // namespace heartpage
