#include "server/site/visitors/security_txt.h"

#include <ctime>

#include "server/site/common/site_pages.h"

namespace heartpage::server {

namespace {

// Readers are to trust the file no longer than this; it is made afresh
// for every request, so it never runs out while the server runs.
constexpr std::int64_t kValidSeconds = 180 * 24 * 60 * 60;

}  // namespace

std::string SecurityTxt(std::string_view public_host, std::string_view abuse_contact,
                        std::int64_t now) {
  const std::time_t expires = static_cast<std::time_t>(now + kValidSeconds);
  std::tm tm{};
  gmtime_r(&expires, &tm);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%SZ", &tm);
  const std::string origin = PublicOrigin(public_host);
  std::string text;
  if (!abuse_contact.empty()) text += "Contact: " + std::string(abuse_contact) + "\n";
  text += "Contact: " + origin + "/report\n";
  text += "Expires: " + std::string(date) + "\n";
  text += "Preferred-Languages: zh, en\n";
  text += "Canonical: " + origin + "/.well-known/security.txt\n";
  return text;
}

}  // namespace heartpage::server
