#include "pages/placement.h"

#include <algorithm>
#include <array>

namespace heartpage {
namespace {

bool IsAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsWordChar(char c) {
  return IsAlpha(c) || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
         static_cast<unsigned char>(c) >= 0x80;
}
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}
char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Attributes whose value a browser loads or follows (the data- ones are read
// by the pages' own scripts into a src).
constexpr std::array<std::string_view, 9> kAddressAttributes = {
    "href",       "src",    "data-src",   "data-address", "action",
    "formaction", "poster", "background", "cite"};

// After these words a "/" starts a regular expression, not a division.
constexpr std::array<std::string_view, 13> kWordsBeforeExpression = {
    "return", "typeof", "case", "do",    "else",  "in",   "of",
    "new",    "delete", "void", "throw", "yield", "await"};

}  // namespace

bool PageScanner::LooksAt(std::string_view text) const {
  if (page_.size() - pos_ < text.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (Lower(page_[pos_ + i]) != text[i]) return false;
  return true;
}

Placement PageScanner::At(std::size_t offset) {
  while (pos_ < offset && pos_ < page_.size()) {
    // Text between tags is most of a page, and the values written into it:
    // nothing but a "<" changes anything there.
    if (mode_ == Mode::kData) {
      pos_ = std::min(page_.find('<', pos_), offset);
      if (pos_ == offset) break;
    }
    Step();
  }
  return Current();
}

Placement PageScanner::ScriptPlacement(char attribute_quote) const {
  switch (js_) {
    case Js::kCode:
      return {Slot::kScriptCode, 0, attribute_quote};
    case Js::kString:
      return {Slot::kScriptString, js_quote_, attribute_quote};
    case Js::kLineComment:
    case Js::kBlockComment:
      return {Slot::kScriptComment, 0, attribute_quote};
    default:
      return {Slot::kOther, 0, attribute_quote};
  }
}

Placement PageScanner::Current() const {
  switch (mode_) {
    case Mode::kData:
      return {Slot::kText};
    case Mode::kRcdata:
      return {Slot::kTitle};
    case Mode::kScript:
      return ScriptPlacement(0);
    case Mode::kStyle:
      return {css_ == Css::kCode ? Slot::kStyleSheet : Slot::kOther};
    case Mode::kAttributeValue:
      if (attribute_quote_ == 0) return {};
      switch (language_) {
        case Language::kScript:
          return ScriptPlacement(attribute_quote_);
        case Language::kStyle:
          return {css_ == Css::kCode ? Slot::kStyleSheet : Slot::kOther, 0, attribute_quote_};
        case Language::kAddress:
          return {pos_ == value_start_ ? Slot::kAddress : Slot::kAddressPart, 0, attribute_quote_};
        case Language::kNone:
          return {Slot::kAttribute, 0, attribute_quote_};
      }
      return {};
    default:
      return {};
  }
}

void PageScanner::Step() {
  const char c = page_[pos_];
  switch (mode_) {
    case Mode::kData:
      StepData();
      return;
    case Mode::kRcdata:
    case Mode::kScript:
    case Mode::kStyle:
      StepRawText(c);
      return;
    case Mode::kComment:
      if (LooksAt("-->")) {
        pos_ += 3;
        mode_ = Mode::kData;
      } else {
        ++pos_;
      }
      return;
    case Mode::kBogus:
      if (c == '>') mode_ = Mode::kData;
      ++pos_;
      return;
    case Mode::kTag:
      StepTag();
      return;
    case Mode::kAfterAttributeName:
      if (IsSpace(c)) {
        ++pos_;
      } else if (c == '=') {
        ++pos_;
        mode_ = Mode::kBeforeAttributeValue;
      } else {
        mode_ = Mode::kTag;
      }
      return;
    case Mode::kBeforeAttributeValue:
      StepBeforeValue(c);
      return;
    case Mode::kAttributeValue:
      StepValue(c);
      return;
  }
}

// Inside a title, a script or a style sheet: nothing but the element's own
// end tag ends it.
void PageScanner::StepRawText(char c) {
  // The element ends at its end tag whatever a script or a style sheet is in
  // the middle of: that is why values never carry a "</" into a script.
  const auto ends_at = [&](std::string_view tag) {
    if (c != '<' || !LooksAt("</" + std::string(tag))) return false;
    pos_ += 2 + tag.size();
    tag_ = std::string(tag);
    closing_ = true;
    mode_ = Mode::kTag;
    return true;
  };
  switch (mode_) {
    case Mode::kRcdata:
      if (!ends_at(tag_)) ++pos_;
      return;
    case Mode::kScript:
      if (!ends_at("script")) StepScript(c);
      return;
    case Mode::kStyle:
      if (!ends_at("style")) StepStyle(c);
      return;
    default:
      return;
  }
}

// An attribute's value starts here: in which language it is written.
void PageScanner::StepBeforeValue(char c) {
  if (IsSpace(c)) {
    ++pos_;
    return;
  }
  if (c == '>') {
    mode_ = Mode::kTag;
    return;
  }
  attribute_quote_ = c == '"' || c == '\'' ? c : 0;
  if (attribute_quote_ != 0) ++pos_;
  value_start_ = pos_;
  mode_ = Mode::kAttributeValue;
  language_ = Language::kNone;
  if (attribute_.starts_with("on")) {
    language_ = Language::kScript;
    StartScript();
  } else if (attribute_ == "style") {
    language_ = Language::kStyle;
    css_ = Css::kCode;
  } else if (std::find(kAddressAttributes.begin(), kAddressAttributes.end(), attribute_) !=
             kAddressAttributes.end()) {
    language_ = Language::kAddress;
  }
}

void PageScanner::StepValue(char c) {
  if (attribute_quote_ != 0 ? c == attribute_quote_ : (IsSpace(c) || c == '>')) {
    if (attribute_quote_ != 0) ++pos_;
    mode_ = Mode::kTag;
    return;
  }
  if (language_ == Language::kScript)
    StepScript(c);
  else if (language_ == Language::kStyle)
    StepStyle(c);
  else
    ++pos_;
}

void PageScanner::StepData() {
  if (page_[pos_] != '<') {
    ++pos_;
    return;
  }
  if (LooksAt("<!--")) {
    pos_ += 4;
    mode_ = Mode::kComment;
    return;
  }
  const char next = pos_ + 1 < page_.size() ? page_[pos_ + 1] : 0;
  if (next == '!' || next == '?') {
    pos_ += 2;
    mode_ = Mode::kBogus;
    return;
  }
  closing_ = next == '/';
  std::size_t i = pos_ + (closing_ ? 2 : 1);
  if (i >= page_.size() || !IsAlpha(page_[i])) {
    ++pos_;
    return;
  }
  tag_.clear();
  for (; i < page_.size() && !IsSpace(page_[i]) && page_[i] != '/' && page_[i] != '>'; ++i)
    tag_ += Lower(page_[i]);
  pos_ = i;
  mode_ = Mode::kTag;
}

void PageScanner::StepTag() {
  const char c = page_[pos_];
  if (IsSpace(c) || c == '/') {
    ++pos_;
    return;
  }
  if (c == '>') {
    ++pos_;
    EndTag(closing_);
    return;
  }
  attribute_.clear();
  for (; pos_ < page_.size(); ++pos_) {
    const char a = page_[pos_];
    if (IsSpace(a) || a == '/' || a == '>' || (a == '=' && !attribute_.empty())) break;
    attribute_ += Lower(a);
  }
  mode_ = Mode::kAfterAttributeName;
}

void PageScanner::EndTag(bool closing) {
  mode_ = Mode::kData;
  if (closing) return;
  if (tag_ == "script") {
    mode_ = Mode::kScript;
    StartScript();
  } else if (tag_ == "style") {
    mode_ = Mode::kStyle;
    css_ = Css::kCode;
  } else if (tag_ == "title" || tag_ == "textarea") {
    mode_ = Mode::kRcdata;
  }
}

void PageScanner::StartScript() {
  js_ = Js::kCode;
  escaped_ = false;
  in_class_ = false;
  last_ = 0;
  word_.clear();
  last_word_.clear();
}

bool PageScanner::RegexMayStart() const {
  if (last_ == 0) return true;
  if (last_ == 'a')
    return std::find(kWordsBeforeExpression.begin(), kWordsBeforeExpression.end(), last_word_) !=
           kWordsBeforeExpression.end();
  return std::string_view("(,=:[!&|?{};+-*%~^<>").find(last_) != std::string_view::npos;
}

void PageScanner::StepScript(char c) {
  const char next = pos_ + 1 < page_.size() ? page_[pos_ + 1] : 0;
  ++pos_;
  switch (js_) {
    case Js::kCode:
      if (IsWordChar(c)) {
        word_ += c;
        last_ = 'a';
        return;
      }
      if (!word_.empty()) {
        last_word_ = word_;
        word_.clear();
      }
      if (IsSpace(c)) return;
      if (c == '\'' || c == '"' || c == '`') {
        js_ = c == '`' ? Js::kTemplate : Js::kString;
        js_quote_ = c;
        escaped_ = false;
      } else if (c == '/' && next == '/') {
        js_ = Js::kLineComment;
        ++pos_;
      } else if (c == '/' && next == '*') {
        js_ = Js::kBlockComment;
        ++pos_;
      } else if (c == '/' && RegexMayStart()) {
        js_ = Js::kRegex;
        escaped_ = false;
        in_class_ = false;
      } else {
        last_ = c == ')' || c == ']' ? 'a' : c;
        last_word_.clear();
      }
      return;
    case Js::kString:
    case Js::kTemplate:
      if (escaped_) {
        escaped_ = false;
      } else if (c == '\\') {
        escaped_ = true;
      } else if (c == js_quote_ || (js_ == Js::kString && (c == '\n' || c == '\r'))) {
        js_ = Js::kCode;
        last_ = 'a';
        last_word_.clear();
      }
      return;
    case Js::kLineComment:
      if (c == '\n' || c == '\r') js_ = Js::kCode;
      return;
    case Js::kBlockComment:
      if (c == '*' && next == '/') {
        js_ = Js::kCode;
        ++pos_;
      }
      return;
    case Js::kRegex:
      if (escaped_) {
        escaped_ = false;
      } else if (c == '\\') {
        escaped_ = true;
      } else if (c == '[') {
        in_class_ = true;
      } else if (c == ']') {
        in_class_ = false;
      } else if ((c == '/' && !in_class_) || c == '\n' || c == '\r') {
        js_ = Js::kCode;
        last_ = 'a';
        last_word_.clear();
      }
      return;
  }
}

void PageScanner::StepStyle(char c) {
  const char next = pos_ + 1 < page_.size() ? page_[pos_ + 1] : 0;
  ++pos_;
  switch (css_) {
    case Css::kCode:
      if (c == '"' || c == '\'') {
        css_ = Css::kString;
        css_quote_ = c;
        escaped_ = false;
      } else if (c == '/' && next == '*') {
        css_ = Css::kComment;
        ++pos_;
      }
      return;
    case Css::kString:
      if (escaped_)
        escaped_ = false;
      else if (c == '\\')
        escaped_ = true;
      else if (c == css_quote_ || c == '\n')
        css_ = Css::kCode;
      return;
    case Css::kComment:
      if (c == '*' && next == '/') {
        css_ = Css::kCode;
        ++pos_;
      }
      return;
  }
}

std::vector<Placement> PlacementsOf(std::string_view page, std::string_view key) {
  std::vector<Placement> places;
  if (key.empty()) return places;
  PageScanner scanner(page);
  for (std::size_t hit = page.find(key); hit != std::string_view::npos;
       hit = page.find(key, hit + key.size()))
    places.push_back(scanner.At(hit));
  return places;
}

}  // namespace heartpage
