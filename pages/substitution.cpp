#include "pages/substitution.h"

namespace heartpage {

std::size_t ReplaceAll(std::string& text, std::string_view key, std::string_view value) {
  std::string scratch;
  return ReplaceAll(text, key, value, scratch);
}

std::size_t ReplaceAll(std::string& text, std::string_view key, std::string_view value,
                       std::string& out) {
  const std::string_view source = text;
  std::size_t hit = key.empty() ? std::string_view::npos : source.find(key);
  if (hit == std::string_view::npos) return 0;
  out.clear();
  out.reserve(text.size() + (value.size() > key.size() ? 2 * (value.size() - key.size()) : 0));
  std::size_t count = 0;
  std::size_t pos = 0;
  for (; hit != std::string_view::npos; hit = source.find(key, pos), ++count) {
    out.append(source.substr(pos, hit - pos)).append(value);
    pos = hit + key.size();
  }
  out.append(source.substr(pos));
  text.swap(out);
  return count;
}

}  // namespace heartpage
