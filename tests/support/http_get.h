#pragma once

#include <curl/curl.h>

#include <string>

namespace heartpage::testing_support {

// The bytes a GET of `address` answers, or "<failed>" (an error status
// included unless `error_pages`), so a test compares a published page with
// what was sent.
inline std::string Fetch(const std::string& address, bool error_pages = false) {
  std::string body;
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, address.c_str());
  curl_easy_setopt(curl, CURLOPT_PROXY, "");
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
  curl_easy_setopt(curl, CURLOPT_FAILONERROR, error_pages ? 0L : 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(
      curl, CURLOPT_WRITEFUNCTION, +[](char* data, size_t size, size_t count, void* target) {
        static_cast<std::string*>(target)->append(data, size * count);
        return size * count;
      });
  const CURLcode result = curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  return result == CURLE_OK ? body : "<failed>";
}

}  // namespace heartpage::testing_support
