#include <windows.h>

#include <cstdio>

#include "net/curl_library.h"

namespace heartpage::curl_library {

void* Open() {
  HMODULE library = LoadLibraryW(L"libcurl.dll");
  if (library == nullptr)
    std::fprintf(stderr, "heartpage: libcurl.dll cannot be opened (error %lu)\n", GetLastError());
  return reinterpret_cast<void*>(library);
}

void* Find(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

}  // namespace heartpage::curl_library
