#include "server/admin/admin_args.h"

#include <ctime>

#include "protocol/page_name.h"

namespace heartpage::server {

namespace {

bool NamesFlag(std::string_view synopsis, std::string_view flag) {
  for (std::size_t at = synopsis.find(flag); at != std::string_view::npos;
       at = synopsis.find(flag, at + 1)) {
    const std::size_t end = at + flag.size();
    const bool starts = at == 0 || synopsis[at - 1] == ' ' || synopsis[at - 1] == '[';
    const bool ends = end == synopsis.size() || synopsis[end] == ' ' || synopsis[end] == ']';
    if (starts && ends) return true;
  }
  return false;
}

}  // namespace

AdminArgs ParseAdminArgs(std::span<const std::string> args, std::string_view synopsis) {
  AdminArgs parsed;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!arg.starts_with("--")) {
      parsed.operands.push_back(arg);
      continue;
    }
    if (!NamesFlag(synopsis, arg)) {
      if (parsed.problem.empty()) parsed.problem = "unknown option " + arg;
      continue;
    }
    if (i + 1 >= args.size()) {
      if (parsed.problem.empty()) parsed.problem = arg + " needs a value";
      continue;
    }
    parsed.flags[arg] = args[++i];
  }
  return parsed;
}

int AdminSay(AdminContext& context, int code, const std::string& line) {
  std::fprintf(context.err, "heartpage-server admin: %s\n", line.c_str());
  return code;
}

bool ExpectOperands(AdminContext& context, const AdminArgs& args, std::size_t operands) {
  if (!args.problem.empty()) {
    AdminSay(context, kAdminMisused, args.problem);
    return false;
  }
  if (args.operands.size() != operands) {
    AdminSay(context, kAdminMisused,
             args.operands.size() < operands ? std::string("missing operand")
                                             : "unexpected operand " + args.operands[operands]);
    return false;
  }
  return true;
}

std::optional<std::string> ReasonOf(AdminContext& context, const AdminArgs& args, bool required) {
  std::string reason = args.Flag("--reason").value_or("");
  if (required && reason.find_first_not_of(" \t") == std::string::npos) {
    AdminSay(context, kAdminMisused, "--reason TEXT is required: the log keeps why");
    return std::nullopt;
  }
  if (reason.size() > kMaxReasonBytes) {
    AdminSay(context, kAdminMisused,
             "--reason is longer than " + std::to_string(kMaxReasonBytes) + " bytes");
    return std::nullopt;
  }
  return reason;
}

namespace {

// The length of the UTF-8 sequence at the start of `text` and the character
// it stands for; 0 when it is none (cut short, overlong, a surrogate).
std::size_t Utf8At(std::string_view text, char32_t& code) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  if (lead < 0x80) {
    code = lead;
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i) & 0x3F);
  }
  const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

bool Unprintable(char32_t code) {
  return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x061C || code == 0x200E ||
         code == 0x200F || (code >= 0x2028 && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

}  // namespace

std::string Printable(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    char32_t code = 0;
    const std::size_t length = Utf8At(text, code);
    if (length == 0) {
      const auto byte = static_cast<unsigned char>(text.front());
      out.append("\\x").append(1, kHex[byte >> 4]).append(1, kHex[byte & 0xF]);
      text.remove_prefix(1);
      continue;
    }
    if (code == '\\') {
      out += "\\\\";
    } else if (code == '\r') {
      out += "\\r";
    } else if (code == '\n') {
      out += "\\n";
    } else if (code == '\t') {
      out += "\\t";
    } else if (code < 0x80 && Unprintable(code)) {
      out.append("\\x").append(1, kHex[code >> 4]).append(1, kHex[code & 0xF]);
    } else if (Unprintable(code)) {
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(code >> shift) & 0xF];
    } else {
      out.append(text.substr(0, length));
    }
    text.remove_prefix(length);
  }
  return out;
}

std::optional<std::string> NameOperand(AdminContext& context, std::string_view name) {
  if (!IsValidPageName(name)) {
    AdminSay(context, kAdminFailed, "no such name: " + std::string(name));
    return std::nullopt;
  }
  return PageNameKey(name);
}

}  // namespace heartpage::server
