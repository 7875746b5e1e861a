#pragma once

// libcurl is opened when the program first needs it, not when it starts.
// With its TLS, Kerberos, LDAP and SSH libraries it is some thirty shared
// libraries, and loading them before main() took longer than everything
// else the dynamic loader does for a start of the program. The functions of
// <curl/curl.h> that our code calls are defined in curl_library.cpp and
// forward to the library once it is open; nothing links libcurl itself.
//
// Should the library be missing, libcurl's own failure answers stand in for
// it (no handle, CURLE_FAILED_INIT, ...): requests then fail as though the
// network were down, with one line on stderr saying why.
namespace heartpage {

// Opens libcurl on a thread of its own and returns at once, so that the
// library is ready by the first request (start-up's).
void OpenCurlInBackground();

namespace curl_library {

// The platform's part: opens the shared library, finds a function of it.
// Null (and a reason on stderr) when it cannot.
void* Open();
void* Find(void* library, const char* name);

}  // namespace curl_library
}  // namespace heartpage
