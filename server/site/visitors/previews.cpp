#include "server/site/visitors/previews.h"

#include <openssl/rand.h>

#include <ctime>
#include <stdexcept>

#include "protocol/wire.h"
#include "server/site/common/gzip.h"
#include "server/site/common/site_pages.h"
#include "server/site/files/media.h"
#include "server/site/policy/deny_check.h"
#include "server/site/policy/endpoint_checks.h"
#include "server/site/policy/page_check.h"
#include "text/gbk.h"

namespace heartpage::server {
namespace {

constexpr std::string_view kTokenAlphabet = "abcdefghijklmnopqrstuvwxyz234567";

// The program tells the sender these terms; the storage must keep them.
static_assert(kPreviewsPerMachine == wire::kPreviewsPerMachine);

}  // namespace

std::string NewPreviewToken() {
  unsigned char random[kPreviewTokenLength];
  if (RAND_bytes(random, sizeof random) != 1)
    throw StorageError("no random bytes for a preview address");
  std::string token;
  // 32 letters: five bits of each byte, no bias.
  for (const unsigned char byte : random) token += kTokenAlphabet[byte & 31];
  return token;
}

bool IsValidPreviewToken(std::string_view token) {
  if (token.size() != kPreviewTokenLength) return false;
  for (const char c : token)
    if (kTokenAlphabet.find(c) == std::string_view::npos) return false;
  return true;
}

EndpointReply RunPreviewStore(const Stores& storage, const FormFields& fields,
                              std::string_view operation, std::string_view public_host,
                              const AddressBudget& sender) {
  if (auto problem =
          FieldProblem(fields, {wire::kOperationField, wire::kMachineIdField, wire::kDataField}))
    return Refuse(wire::status::kMalformed, std::string(operation) + ": " + *problem);
  const auto owner = OwnerOf(storage.claims, fields);
  if (const auto* refusal = std::get_if<EndpointReply>(&owner)) return *refusal;
  if (auto refusal = RefuseBlocked(storage.admin, std::get<MachineIdHash>(owner))) return *refusal;
  // A preview is served like a page, from the same site: it is held to the
  // same check.
  const PageCheck page = CheckSentPage(fields.find(wire::kDataField)->second, public_host);
  if (!page.genuine) return Refuse(wire::status::kUnacceptable, page.refusal);
  if (auto denied = DeniedIn(page, storage.deny.DeniedList()))
    return Refuse(wire::status::kUnacceptable, std::move(*denied));
  const std::string token = NewPreviewToken();
  const std::int64_t now = std::time(nullptr);
  const std::string& bytes = fields.find(wire::kDataField)->second;
  switch (storage.previews.StorePreview(std::get<MachineIdHash>(owner), token, bytes, now,
                                        now + kPreviewLifetimeSeconds, sender,
                                        GzipIfWorthIt(bytes))) {
    case PreviewStoreResult::kStored:
      break;
    case PreviewStoreResult::kOverQuota:
      return Refuse(wire::status::kOutOfSpace, "the server is out of room for previews");
    case PreviewStoreResult::kOverAddressDaily:
      return TryTomorrow(std::string(kAddressDailyRefusal));
    case PreviewStoreResult::kOverAddressShare:
      return TryTomorrow("previews from this address take all the room one address may have");
  }
  return {wire::status::kOk, PublicOrigin(public_host) + std::string(wire::kPreviewPrefix) + token,
          false};
}

// Ended by its time or by newer previews of the same machine: the page
// recalls both terms in the words the window gave them.
std::string ExpiredPreviewPage() {
  return "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
         "<title>预览已过期</title>\n</head>\n<body style=\"font-family: sans-serif; "
         "text-align: center; padding: 3em 1em; color: #444\">\n"
         "<h1 style=\"font-size: 1.4em\">这个预览地址已过期</h1>\n"
         "<p>扫码预览的地址" +
         wire::PreviewTerms() +
         "。请在电脑上重新点击“扫码预览”。</p>\n"
         "</body>\n</html>\n";
}

}  // namespace heartpage::server
