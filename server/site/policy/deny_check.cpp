#include "server/site/policy/deny_check.h"

#include <arpa/inet.h>
#include <unicode/normalizer2.h>
#include <unicode/uidna.h>
#include <unicode/unistr.h>
#include <unicode/uspoof.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>

#include "text/ascii.h"
#include "text/utf8.h"

namespace heartpage::server {
namespace {

constexpr std::size_t kMaxDeniedBytes = 200;

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

std::string_view Trim(std::string_view text) {
  return Trimmed(text, kHtmlBlanks);
}

bool IsSlash(char c) {
  return c == '/' || c == '\\';
}

// Text as one reads it whatever way it was written: compatibility forms
// (full-width letters, ligatures) as their plain letters, in small letters,
// and without the characters that show nothing (zero-width spaces, soft
// hyphens, joiners, direction marks).
std::string Folded(std::string_view text) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* fold = icu::Normalizer2::getNFKCCasefoldInstance(status);
  if (U_FAILURE(status)) return Lower(text);
  const icu::UnicodeString folded =
      fold->normalize(icu::UnicodeString::fromUTF8(
                          icu::StringPiece(text.data(), static_cast<int32_t>(text.size()))),
                      status);
  if (U_FAILURE(status)) return Lower(text);
  std::string out;
  folded.toUTF8String(out);
  return out;
}

const USpoofChecker* Spoof() {
  static const USpoofChecker* const checker = [] {
    UErrorCode status = U_ZERO_ERROR;
    USpoofChecker* made = uspoof_open(&status);
    return U_SUCCESS(status) ? made : nullptr;
  }();
  return checker;
}

// Text as it looks: letters of other scripts that are drawn like Latin ones
// (a Cyrillic "р", a Greek "ο") as those, so that a word is matched however
// its letters were picked. Of folded text, which the skeleton does not fold.
std::string Skeleton(std::string_view folded) {
  const USpoofChecker* checker = Spoof();
  if (checker == nullptr) return std::string(folded);
  UErrorCode status = U_ZERO_ERROR;
  icu::UnicodeString skeleton;
  uspoof_getSkeletonUnicodeString(checker, 0,
                                  icu::UnicodeString::fromUTF8(icu::StringPiece(
                                      folded.data(), static_cast<int32_t>(folded.size()))),
                                  skeleton, &status);
  if (U_FAILURE(status)) return std::string(folded);
  std::string out;
  skeleton.toUTF8String(out);
  return out;
}

const UIDNA* Idna() {
  // As browsers map host names: the non-transitional UTS #46 mapping, no
  // STD3 rules and no length checks.
  static const UIDNA* const idna = [] {
    UErrorCode status = U_ZERO_ERROR;
    UIDNA* made =
        uidna_openUTS46(UIDNA_CHECK_BIDI | UIDNA_CHECK_CONTEXTJ | UIDNA_NONTRANSITIONAL_TO_ASCII |
                            UIDNA_NONTRANSITIONAL_TO_UNICODE,
                        &status);
    return U_SUCCESS(status) ? made : nullptr;
  }();
  return idna;
}

// `name` mapped by UTS #46, to its ASCII form or its Unicode one. A name the
// mapping finds errors in still gives what it maps to: a browser would not
// open it, and a deny list had better match too much than too little.
std::string MappedName(std::string_view name, bool ascii) {
  const UIDNA* idna = Idna();
  if (idna == nullptr || name.empty()) return Lower(name);
  std::string out(name.size() * 4 + 64, '\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    UErrorCode status = U_ZERO_ERROR;
    UIDNAInfo info = UIDNA_INFO_INITIALIZER;
    const auto convert = ascii ? uidna_nameToASCII_UTF8 : uidna_nameToUnicodeUTF8;
    const int32_t length = convert(idna, name.data(), static_cast<int32_t>(name.size()), out.data(),
                                   static_cast<int32_t>(out.size()), &info, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
      out.assign(static_cast<std::size_t>(length) + 1, '\0');
      continue;
    }
    if (U_FAILURE(status)) return Lower(name);
    out.resize(static_cast<std::size_t>(length));
    return out;
  }
  return Lower(name);
}

// One part of a numeric IPv4 host as browsers read it: decimal, 0x hex or
// 0 octal.
bool Ipv4Part(std::string_view part, std::uint64_t& value) {
  int base = 10;
  if (part.size() >= 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
    base = 16;
    part.remove_prefix(2);
  } else if (part.size() >= 2 && part[0] == '0') {
    base = 8;
    part.remove_prefix(1);
  }
  value = 0;
  if (part.empty() && base != 8) return false;
  for (const char c : part) {
    const int digit = HexDigit(c);
    if (digit < 0 || digit >= base) return false;
    value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    if (value > 0xFFFFFFFFu) return false;
  }
  return true;
}

// A host that ends in a number is an IPv4 address, in any of the forms
// browsers take ("127.1", "0x7f000001", "017700000001"): its dotted form.
std::optional<std::string> Ipv4Host(std::string_view host) {
  std::string_view last =
      host.substr(host.rfind('.') == std::string_view::npos ? 0 : host.rfind('.') + 1);
  const bool numeric =
      !last.empty() && (last.find_first_not_of("0123456789") == std::string_view::npos ||
                        ((last.starts_with("0x") || last.starts_with("0X")) &&
                         last.find_first_not_of("0123456789abcdefABCDEF", 2) == last.npos));
  if (!numeric) return std::nullopt;
  std::array<std::uint64_t, 4> parts{};
  std::size_t count = 0;
  for (std::size_t start = 0; start <= host.size();) {
    std::size_t end = host.find('.', start);
    if (end == std::string_view::npos) end = host.size();
    if (count == 4 || !Ipv4Part(host.substr(start, end - start), parts[count])) return "";
    ++count;
    start = end + 1;
  }
  std::uint64_t address = 0;
  for (std::size_t i = 0; i + 1 < count; ++i) {
    if (parts[i] > 255) return "";
    address |= parts[i] << (8 * (3 - i));
  }
  if (parts[count - 1] >= (std::uint64_t{1} << (8 * (5 - count)))) return "";
  address |= parts[count - 1];
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 255) + "." +
         std::to_string((address >> 8) & 255) + "." + std::to_string(address & 255);
}

// The host a browser reaches for the address whose authority starts
// `rest` (after "scheme:" and its slashes, either way round), in the one
// form hosts are compared in: ASCII, small letters, no final dot, an IPv4
// address dotted, an IPv6 one as inet_ntop writes it in brackets.
std::string HostAt(std::string_view rest) {
  std::string authority;
  for (const char c : rest.substr(0, rest.find_first_of("/?#\\")))
    if (c != '\t' && c != '\n' && c != '\r') authority += c;
  std::string_view host = authority;
  if (const std::size_t at = host.rfind('@'); at != std::string_view::npos)
    host.remove_prefix(at + 1);
  if (host.starts_with('[')) {
    const std::string inside(host.substr(1, host.find(']') - 1));
    in6_addr address{};
    char text[INET6_ADDRSTRLEN] = {};
    if (inet_pton(AF_INET6, inside.c_str(), &address) == 1) {
      // A browser reaches the IPv4 host itself through its mapped form.
      if (IN6_IS_ADDR_V4MAPPED(&address) &&
          inet_ntop(AF_INET, &address.s6_addr[12], text, sizeof text) != nullptr)
        return text;
      if (inet_ntop(AF_INET6, &address, text, sizeof text) != nullptr)
        return "[" + std::string(text) + "]";
    }
    return Lower(host.substr(0, host.find(']') + 1));
  }
  host = host.substr(0, host.find(':'));
  // Whitespace ends an address that stands in running text.
  host = host.substr(
      0, static_cast<std::size_t>(std::find_if(host.begin(), host.end(), IsSpace) - host.begin()));
  std::string name = MappedName(*DecodePercents(host, false, BadPercent::kKeep), /*ascii=*/true);
  while (name.ends_with('.')) name.pop_back();
  if (const std::optional<std::string> ipv4 = Ipv4Host(name); ipv4 && !ipv4->empty()) return *ipv4;
  return name;
}

// Every host an address in `value` leads to: after "http:" or "https:"
// with any slashes or backslashes (none included), and where a value or a
// word of it starts with two of them, which browsers read as an address on
// another host.
std::vector<std::string> HostsIn(std::string_view value) {
  std::vector<std::string> hosts;
  const std::string lower = Lower(value);
  const std::string_view text = lower;
  for (std::size_t at = 0; at < text.size(); ++at) {
    std::size_t start = std::string_view::npos;
    if (text.compare(at, 4, "http") == 0) {
      std::size_t next = at + 4;
      if (next < text.size() && text[next] == 's') ++next;
      if (next < text.size() && text[next] == ':') start = next + 1;
    } else if (IsSlash(text[at]) && at + 1 < text.size() && IsSlash(text[at + 1]) &&
               (at == 0 || IsSpace(text[at - 1]))) {
      start = at;
    }
    if (start == std::string_view::npos) continue;
    while (start < text.size() && (IsSlash(text[start]) || IsSpace(text[start]))) ++start;
    hosts.push_back(HostAt(text.substr(start)));
    at = start;
  }
  return hosts;
}

bool HostDenied(std::string_view host, std::string_view denied) {
  return !denied.empty() &&
         (host == denied || (host.size() > denied.size() && host.ends_with(denied) &&
                             host[host.size() - denied.size() - 1] == '.'));
}

}  // namespace

std::optional<std::string> NormalizeDenied(DenyKind kind, std::string_view value) {
  value = Trim(value);
  if (value.empty() || value.size() > kMaxDeniedBytes) return std::nullopt;
  for (const char c : value)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return std::nullopt;
  if (kind == DenyKind::kWord) {
    std::string word = Folded(value);
    if (Trim(word).empty()) return std::nullopt;
    return word;
  }
  std::string_view host = value;
  if (const std::size_t scheme = host.find("://"); scheme != std::string_view::npos)
    host.remove_prefix(scheme + 3);
  const std::string bare = HostAt(host);
  // Letters, digits, hyphens and dots once mapped, or an address; never a
  // space, slash or anything else an address would split at.
  if (bare.empty() || bare.starts_with('.') || std::ranges::any_of(bare, [](char c) {
        return !(c >= 'a' && c <= 'z') && !(c >= '0' && c <= '9') && c != '-' && c != '.' &&
               c != '[' && c != ']' && c != ':' && c != '_';
      }))
    return std::nullopt;
  // Kept as the operator reads it: a name in another script as it is written.
  if (bare.starts_with('[')) return bare;
  return MappedName(bare, /*ascii=*/false);
}

std::optional<std::string> DeniedIn(const std::vector<std::string>& values,
                                    const std::vector<DenyEntry>& denied, std::string_view what) {
  if (denied.empty()) return std::nullopt;
  // Entries kept before they were read this way are read so here too.
  std::vector<std::pair<const DenyEntry*, std::string>> hosts, words;
  for (const DenyEntry& entry : denied) {
    if (entry.kind == DenyKind::kWord)
      words.emplace_back(&entry, Skeleton(Folded(entry.value)));
    else
      hosts.emplace_back(&entry, HostAt(entry.value));
  }
  for (const std::string& value : values) {
    if (!words.empty()) {
      const std::string looks = Skeleton(Folded(value));
      for (const auto& [entry, word] : words)
        if (!word.empty() && looks.find(word) != std::string::npos)
          return std::string(what) + " contains a word this site does not allow: " + entry->value;
    }
    if (hosts.empty()) continue;
    for (const std::string& host : HostsIn(value))
      for (const auto& [entry, denied_host] : hosts)
        if (HostDenied(host, denied_host))
          return std::string(what) + " links to a host this site does not allow: " + entry->value;
  }
  return std::nullopt;
}

std::optional<std::string> DeniedIn(const PageCheck& page, const std::vector<DenyEntry>& denied) {
  if (denied.empty()) return std::nullopt;
  std::vector<std::string> values = page.values;
  values.push_back(page.question);
  values.insert(values.end(), page.answers.begin(), page.answers.end());
  return DeniedIn(values, denied);
}

}  // namespace heartpage::server
