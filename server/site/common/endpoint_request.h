#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "server/site/common/form.h"
#include "server/site/common/statement.h"
#include "server/site/common/work.h"
#include "server/storage/storage.h"

// What the endpoint is asked and answers, as every room of the site knows
// it: the lanes, the limits and the log read it, the operations fill it in.
namespace heartpage::server {

// The answer to one POST of the endpoint. A record set is GBK; errors are
// short plain ASCII texts.
struct EndpointReply {
  unsigned status = 200;
  std::string body;
  bool records = false;  // body is a GBK record set
  // For 429: when the client may ask again (Retry-After); 0: not said.
  std::int64_t retry_after = 0;
};

// For the log: what a request asked (an operation's name: "settings",
// "store" …; empty until the body says) and of which page name, as sent.
// Never the machine identifier.
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
  // The bytes of the page or preview the request read from the database,
  // past the cache (Routed::reads_page). Not logged.
  std::size_t page_bytes_read = 0;
};

struct EndpointRequest;

// What an operation runs with.
struct EndpointCall {
  const Stores& storage;
  const EndpointRequest& request;
  std::string_view public_host;
  // Whose address sent it, for what counts by address.
  const AddressBudget& sender;
};

// One operation of the endpoint, as the lanes, the limits, the log and the
// handler all know it.
struct EndpointOperation {
  int number;             // its "zc"
  std::string_view name;  // in the log; one that carries a statement is named by it
  Work work;              // its lane, and the rate it counts against
  bool statement;         // carries a statement in "sql"
  // Acts for a page's owner: answers 403 to any identifier but the owner's.
  // Such a refusal was a guess at whose a name is, and costs the client
  // `guessed_stores` stores more than it paid already.
  bool for_owner;
  unsigned guessed_stores;
  EndpointReply (*run)(const EndpointCall& call);
};

// A body of the endpoint, read once into what every later step decides by:
// its fields decoded, the operation its "zc" names, and the statement an
// operation that carries one sent. Any spelling the value decoding accepts
// means what its plain form means.
struct EndpointRequest {
  const EndpointOperation* operation = nullptr;  // none: `refusal` says why
  std::string refusal;
  FormFields fields;
  Statement statement = StatementError{};
  std::string_view name;      // of what was asked, for the log
  Work work = Work::kAtOnce;  // a refusal needs no database
};

}  // namespace heartpage::server
