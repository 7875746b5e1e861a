#include "server/site/common/json.h"

#include <cstddef>
#include <limits>
#include <optional>
#include <type_traits>

#include "text/gbk.h"

namespace heartpage::server {

namespace {

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  std::variant<JsonObject, JsonError> Document() {
    JsonObject object;
    if (!Object(object, true)) return JsonError{error_};
    SkipBlanks();
    if (at_ != text_.size()) return JsonError{"unexpected text after the object"};
    return object;
  }

 private:
  bool Fail(std::string message) {
    if (error_.empty()) error_ = std::move(message);
    return false;
  }

  void SkipBlanks() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r'))
      ++at_;
  }

  bool Take(char expected) {
    SkipBlanks();
    if (at_ < text_.size() && text_[at_] == expected) {
      ++at_;
      return true;
    }
    return false;
  }

  bool TakeWord(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  // `outer`: the document itself, whose members may be of any kind; an
  // object inside holds strings only.
  template <typename Members>
  bool Object(Members& members, bool outer) {
    if (!Take('{')) return Fail(outer ? "a JSON object is expected" : "an object is expected");
    if (Take('}')) return true;
    do {
      SkipBlanks();
      std::string name;
      if (!String(name)) return Fail("a member name is expected");
      if (!Take(':')) return Fail("':' is expected after a member name");
      if (members.contains(name)) return Fail("member " + name + " is given twice");
      SkipBlanks();
      if constexpr (std::is_same_v<Members, JsonObject>) {
        JsonValue value;
        if (!Value(value)) return false;
        members.emplace(std::move(name), std::move(value));
      } else {
        std::string value;
        if (!String(value)) return Fail("member " + name + " must be a string");
        members.emplace(std::move(name), std::move(value));
      }
    } while (Take(','));
    if (!Take('}')) return Fail("',' or '}' is expected");
    return true;
  }

  bool Value(JsonValue& out) {
    if (at_ >= text_.size()) return Fail("a value is expected");
    const char first = text_[at_];
    if (first == '"') {
      std::string text;
      if (!String(text)) return false;
      out.value = std::move(text);
    } else if (first == '{') {
      JsonStrings inner;
      if (!Object(inner, false)) return false;
      out.value = std::move(inner);
    } else if (TakeWord("true")) {
      out.value = true;
    } else if (TakeWord("false")) {
      out.value = false;
    } else if (first == '-' || (first >= '0' && first <= '9')) {
      std::int64_t number = 0;
      if (!Number(number)) return false;
      out.value = number;
    } else {
      return Fail("only strings, booleans, whole numbers and objects of strings are taken");
    }
    return true;
  }

  bool Number(std::int64_t& out) {
    const bool negative = text_[at_] == '-';
    if (negative) ++at_;
    const std::size_t start = at_;
    std::int64_t value = 0;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
      if (value > (std::numeric_limits<std::int64_t>::max() - 9) / 10)
        return Fail("number too large");
      value = value * 10 + (text_[at_] - '0');
      ++at_;
    }
    if (at_ == start || (text_[start] == '0' && at_ - start > 1)) return Fail("malformed number");
    if (at_ < text_.size() && (text_[at_] == '.' || text_[at_] == 'e' || text_[at_] == 'E'))
      return Fail("only whole numbers are taken");
    out = negative ? -value : value;
    return true;
  }

  std::optional<char32_t> Hex4() {
    if (text_.size() - at_ < 4) return std::nullopt;
    char32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[at_++];
      value <<= 4;
      if (c >= '0' && c <= '9')
        value |= static_cast<char32_t>(c - '0');
      else if (c >= 'a' && c <= 'f')
        value |= static_cast<char32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        value |= static_cast<char32_t>(c - 'A' + 10);
      else
        return std::nullopt;
    }
    return value;
  }

  bool Escape(std::string& out) {
    if (at_ >= text_.size()) return Fail("unfinished string");
    const char c = text_[at_++];
    switch (c) {
      case '"':
        out += '"';
        return true;
      case '\\':
        out += '\\';
        return true;
      case '/':
        out += '/';
        return true;
      case 'b':
        out += '\b';
        return true;
      case 'f':
        out += '\f';
        return true;
      case 'n':
        out += '\n';
        return true;
      case 'r':
        out += '\r';
        return true;
      case 't':
        out += '\t';
        return true;
      case 'u':
        break;
      default:
        return Fail("unknown escape in a string");
    }
    std::optional<char32_t> unit = Hex4();
    if (!unit) return Fail("malformed \\u escape");
    char32_t code = *unit;
    if (code >= 0xDC00 && code <= 0xDFFF) return Fail("lone surrogate in a string");
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (!TakeWord("\\u")) return Fail("lone surrogate in a string");
      const std::optional<char32_t> low = Hex4();
      if (!low || *low < 0xDC00 || *low > 0xDFFF) return Fail("lone surrogate in a string");
      code = 0x10000 + ((code - 0xD800) << 10) + (*low - 0xDC00);
    }
    AppendUtf8(out, code);
    return true;
  }

  // One UTF-8 character as it stands, checked: no overlong forms, no
  // surrogates, nothing past U+10FFFF.
  bool Character(std::string& out) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text_[i]); };
    const unsigned char lead = byte(at_);
    std::size_t length = 0;
    char32_t code = 0;
    if (lead < 0x80) {
      length = 1;
      code = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      code = lead & 0x07u;
    } else {
      return Fail("a string is not UTF-8");
    }
    if (text_.size() - at_ < length) return Fail("a string is not UTF-8");
    for (std::size_t i = 1; i < length; ++i) {
      if ((byte(at_ + i) & 0xC0u) != 0x80u) return Fail("a string is not UTF-8");
      code = (code << 6) | (byte(at_ + i) & 0x3Fu);
    }
    constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
      return Fail("a string is not UTF-8");
    out.append(text_.substr(at_, length));
    at_ += length;
    return true;
  }

  bool String(std::string& out) {
    if (at_ >= text_.size() || text_[at_] != '"') return false;
    ++at_;
    while (at_ < text_.size()) {
      const char c = text_[at_];
      if (c == '"') {
        ++at_;
        return true;
      }
      if (static_cast<unsigned char>(c) < 0x20) return Fail("control character in a string");
      if (c == '\\') {
        ++at_;
        if (!Escape(out)) return false;
      } else if (!Character(out)) {
        return false;
      }
    }
    return Fail("unfinished string");
  }

  std::string_view text_;
  std::size_t at_ = 0;
  std::string error_;
};

}  // namespace

std::variant<JsonObject, JsonError> ReadJsonObject(std::string_view text) {
  return Reader(text).Document();
}

void AppendJsonString(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || c == '<') {
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
  out += '"';
}

std::string JsonString(std::string_view text) {
  std::string out;
  AppendJsonString(out, text);
  return out;
}

}  // namespace heartpage::server
