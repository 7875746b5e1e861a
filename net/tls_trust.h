#pragma once

// Whom an https request of the program trusts: the system's authorities and,
// when HEARTPAGE_CA_FILE names a PEM file, the authorities in it as well.
namespace heartpage {

// Configures the libcurl transfer `easy` (a CURL*) to trust them. False when
// the extra file cannot be read: the transfer must then not be made, neither
// with less trust than was configured nor with more.
bool TrustExtraAuthorities(void* easy);

}  // namespace heartpage
