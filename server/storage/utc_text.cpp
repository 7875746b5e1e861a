#include "server/storage/utc_text.h"

#include <ctime>

namespace heartpage::server {

std::string UtcText(std::int64_t seconds) {
  return UtcText(seconds, "%Y-%m-%d %H:%M:%S");
}

std::string UtcText(std::int64_t seconds, const char* form) {
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&time, &tm);
  char text[41];
  if (std::strftime(text, sizeof text, form, &tm) == 0) return {};
  return text;
}

}  // namespace heartpage::server
