#pragma once

#include <curl/curl.h>

namespace heartpage {

// Whom an https request of the program trusts: the system's authorities and,
// when HEARTPAGE_CA_FILE names a PEM file, those in it as well.
//
// Adds the authorities of the file HEARTPAGE_CA_FILE names (if any) to those
// `easy` trusts; false when that file cannot be read, and the request must
// not be made.
bool TrustExtraAuthorities(CURL* easy);

}  // namespace heartpage
