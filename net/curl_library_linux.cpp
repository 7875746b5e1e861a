#include <dlfcn.h>

#include <cstdio>

#include "net/curl_library.h"

namespace heartpage::curl_library {

void* Open() {
  void* library = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) std::fprintf(stderr, "heartpage: %s\n", dlerror());
  return library;
}

void* Find(void* library, const char* name) {
  return dlsym(library, name);
}

}  // namespace heartpage::curl_library
