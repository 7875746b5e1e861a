#pragma once

#include <string>
#include <string_view>

#include "server/storage/storage.h"

namespace heartpage::server {

// The answer to one POST of the endpoint. A record set is GBK; errors are
// short plain ASCII texts.
struct EndpointReply {
  unsigned status = 200;
  std::string body;
  bool records = false;  // body is a GBK record set
};

// For the log: what a request asked ("settings", "ownership lookup", "name
// lookup", "claim", "store", "take down", "release"; empty until the body says) and of which page
// name, as sent. Never the machine identifier.
struct Audit {
  std::string_view operation;
  std::string name;
  // Why the storage failed any request, whatever it asked: the client is
  // told only that it did. Also why a refusal written as a page for a person
  // (the report form's) was made, which its first line cannot say.
  std::string failure = {};
  // Who asked, by limit key, and what that address may send: the stores
  // that count by address take it from here. Not logged.
  AddressBudget sender = {};
};

// What a body asks for, told from its "zc" field (and a lookup's statement),
// so that a request can be queued, limited or refused before it is run.
enum class EndpointWork { kRead, kLookup, kClaim, kStore };
EndpointWork PeekEndpointWork(std::string_view body);

// Operations 1 (query), 2 (claim), 4 (store page), 6 (take a page down) and 7
// (release a name). Whatever the body, it
// either runs completely or changes nothing.
// `audit`, when given, is filled in as soon as the body is understood, so it
// tells what was asked even when the storage then fails.
EndpointReply HandleEndpoint(const Stores& storage, std::string_view body,
                             std::string_view public_host, Audit* audit = nullptr);

}  // namespace heartpage::server
