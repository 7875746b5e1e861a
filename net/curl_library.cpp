#include "net/curl_library.h"

#include <curl/curl.h>

#include <cstdarg>
#include <cstdio>
#include <future>

// The forwarders below take the names these macros stand for.
#undef curl_easy_setopt
#undef curl_easy_getinfo

namespace heartpage {
namespace {

// Stand-ins for the two functions with variable arguments, which no lambda
// can be (GCC converts none that uses "..." to a function pointer).
CURLcode FailedSetopt(CURL*, CURLoption, ...) {
  return CURLE_FAILED_INIT;
}
CURLcode FailedGetinfo(CURL*, CURLINFO, ...) {
  return CURLE_FAILED_INIT;
}

// libcurl's functions that the program calls, found once. When the library
// is missing or lacks one of them, every one keeps its stand-in, libcurl's
// own failure answer, so that requests fail as though the network were down.
struct Functions {
  decltype(&curl_global_init) global_init = [](long) { return CURLE_FAILED_INIT; };
  decltype(&curl_global_cleanup) global_cleanup = [] {};
  decltype(&curl_easy_init) easy_init = []() -> CURL* { return nullptr; };
  decltype(&curl_easy_setopt) easy_setopt = FailedSetopt;
  decltype(&curl_easy_getinfo) easy_getinfo = FailedGetinfo;
  decltype(&curl_easy_perform) easy_perform = [](CURL*) { return CURLE_FAILED_INIT; };
  decltype(&curl_easy_cleanup) easy_cleanup = [](CURL*) {};
  decltype(&curl_multi_init) multi_init = []() -> CURLM* { return nullptr; };
  decltype(&curl_multi_add_handle) multi_add_handle = [](CURLM*, CURL*) {
    return CURLM_INTERNAL_ERROR;
  };
  decltype(&curl_multi_remove_handle) multi_remove_handle = [](CURLM*, CURL*) {
    return CURLM_INTERNAL_ERROR;
  };
  decltype(&curl_multi_perform) multi_perform = [](CURLM*, int*) { return CURLM_INTERNAL_ERROR; };
  decltype(&curl_multi_poll) multi_poll = [](CURLM*, curl_waitfd*, unsigned int, int, int*) {
    return CURLM_INTERNAL_ERROR;
  };
  decltype(&curl_multi_info_read) multi_info_read = [](CURLM*, int*) -> CURLMsg* {
    return nullptr;
  };
  decltype(&curl_multi_cleanup) multi_cleanup = [](CURLM*) { return CURLM_INTERNAL_ERROR; };
  decltype(&curl_slist_append) slist_append = [](curl_slist*, const char*) -> curl_slist* {
    return nullptr;
  };
  decltype(&curl_slist_free_all) slist_free_all = [](curl_slist*) {};
};

template <typename Function>
bool Find(void* library, const char* name, Function& target) {
  target = reinterpret_cast<Function>(curl_library::Find(library, name));
  return target != nullptr;
}

Functions OpenAndInitialise() {
  void* library = curl_library::Open();
  if (library == nullptr) return Functions();
  Functions f;
  const bool complete = Find(library, "curl_global_init", f.global_init) &&
                        Find(library, "curl_global_cleanup", f.global_cleanup) &&
                        Find(library, "curl_easy_init", f.easy_init) &&
                        Find(library, "curl_easy_setopt", f.easy_setopt) &&
                        Find(library, "curl_easy_getinfo", f.easy_getinfo) &&
                        Find(library, "curl_easy_perform", f.easy_perform) &&
                        Find(library, "curl_easy_cleanup", f.easy_cleanup) &&
                        Find(library, "curl_multi_init", f.multi_init) &&
                        Find(library, "curl_multi_add_handle", f.multi_add_handle) &&
                        Find(library, "curl_multi_remove_handle", f.multi_remove_handle) &&
                        Find(library, "curl_multi_perform", f.multi_perform) &&
                        Find(library, "curl_multi_poll", f.multi_poll) &&
                        Find(library, "curl_multi_info_read", f.multi_info_read) &&
                        Find(library, "curl_multi_cleanup", f.multi_cleanup) &&
                        Find(library, "curl_slist_append", f.slist_append) &&
                        Find(library, "curl_slist_free_all", f.slist_free_all);
  // Requests run on several threads at once (start-up, uploads, checks);
  // libcurl is initialised once for the process, before any of them.
  if (!complete || f.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    std::fprintf(stderr,
                 "heartpage: libcurl lacks a function the program calls, or fails to start\n");
    return Functions();
  }
  return f;
}

const Functions& Library() {
  static const Functions functions = OpenAndInitialise();
  return functions;
}

}  // namespace

void OpenCurlInBackground() {
  // Waited for, if still running, when the program ends.
  static const std::future<void> opening = std::async(std::launch::async, [] { Library(); });
}

}  // namespace heartpage

using heartpage::Library;

// The forwarders take libcurl's own signatures, whose last named parameter
// before the variable ones is an enum of int's size: promotion does not
// change it, though clang warns that it might.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wvarargs"
#endif

extern "C" {

CURLcode curl_global_init(long flags) {
  // Opening the library made the first of the initialisations libcurl
  // counts.
  return Library().global_init(flags);
}

void curl_global_cleanup() {
  Library().global_cleanup();
}

CURL* curl_easy_init() {
  return Library().easy_init();
}

CURLcode curl_easy_setopt(CURL* easy, CURLoption option, ...) {
  const auto setopt = Library().easy_setopt;
  // libcurl reads one argument, of the type that the option's number range
  // names.
  va_list args;
  va_start(args, option);
  CURLcode code;
  if (option < CURLOPTTYPE_OBJECTPOINT) {
    code = setopt(easy, option, va_arg(args, long));
  } else if (option < CURLOPTTYPE_FUNCTIONPOINT) {
    code = setopt(easy, option, va_arg(args, void*));
  } else if (option < CURLOPTTYPE_OFF_T) {
    code = setopt(easy, option, va_arg(args, void (*)()));
  } else if (option < CURLOPTTYPE_BLOB) {
    code = setopt(easy, option, va_arg(args, curl_off_t));
  } else {
    code = setopt(easy, option, va_arg(args, void*));
  }
  va_end(args);
  return code;
}

CURLcode curl_easy_getinfo(CURL* easy, CURLINFO info, ...) {
  va_list args;
  va_start(args, info);
  // Every kind of information is written through one pointer.
  const CURLcode code = Library().easy_getinfo(easy, info, va_arg(args, void*));
  va_end(args);
  return code;
}

CURLcode curl_easy_perform(CURL* easy) {
  return Library().easy_perform(easy);
}

void curl_easy_cleanup(CURL* easy) {
  Library().easy_cleanup(easy);
}

CURLM* curl_multi_init() {
  return Library().multi_init();
}

CURLMcode curl_multi_add_handle(CURLM* multi, CURL* easy) {
  return Library().multi_add_handle(multi, easy);
}

CURLMcode curl_multi_remove_handle(CURLM* multi, CURL* easy) {
  return Library().multi_remove_handle(multi, easy);
}

CURLMcode curl_multi_perform(CURLM* multi, int* running) {
  return Library().multi_perform(multi, running);
}

CURLMcode curl_multi_poll(CURLM* multi, curl_waitfd* extra, unsigned int extra_count,
                          int timeout_ms, int* ready) {
  return Library().multi_poll(multi, extra, extra_count, timeout_ms, ready);
}

CURLMsg* curl_multi_info_read(CURLM* multi, int* queued) {
  return Library().multi_info_read(multi, queued);
}

CURLMcode curl_multi_cleanup(CURLM* multi) {
  return Library().multi_cleanup(multi);
}

curl_slist* curl_slist_append(curl_slist* list, const char* text) {
  return Library().slist_append(list, text);
}

void curl_slist_free_all(curl_slist* list) {
  Library().slist_free_all(list);
}

}  // extern "C"
