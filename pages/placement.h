#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Where in a page a placeholder stands, read from the page's own markup: a
// value is written for the place it lands, and the templates can be edited
// without a table of places to keep in step with them.
namespace heartpage {

enum class Slot {
  kText,           // HTML text between tags, shown as HTML
  kTitle,          // the text of <title> or <textarea>: no tags, shown as it is
  kAttribute,      // a quoted attribute value
  kAddress,        // the start of a quoted address attribute (href, src, data-src ...)
  kAddressPart,    // further on in an address attribute, e.g. a host name's first label
  kScriptString,   // a quoted string literal of a script
  kScriptCode,     // a script outside strings and comments
  kScriptComment,  // a script's comment
  kStyleSheet,     // style rules outside strings and comments
  kOther,          // anywhere else: an HTML comment, an unquoted attribute, a regular
                   // expression; no template puts a placeholder there
};

struct Placement {
  Slot slot = Slot::kOther;
  char quote = 0;            // the string's delimiter (kScriptString)
  char attribute_quote = 0;  // the enclosing attribute's delimiter, if any

  bool operator==(const Placement&) const = default;
};

// Reads a page once from the start, telling where each offset asked about
// stands. Offsets must not go back between calls.
class PageScanner {
 public:
  explicit PageScanner(std::string_view page) : page_(page) {}
  Placement At(std::size_t offset);

 private:
  enum class Mode {
    kData,
    kRcdata,
    kScript,
    kStyle,
    kComment,
    kBogus,
    kTag,
    kAfterAttributeName,
    kBeforeAttributeValue,
    kAttributeValue,
  };
  enum class Js { kCode, kString, kTemplate, kLineComment, kBlockComment, kRegex };
  enum class Css { kCode, kString, kComment };
  enum class Language { kNone, kScript, kStyle, kAddress };

  void Step();
  void StepData();
  void StepRawText(char c);
  void StepBeforeValue(char c);
  void StepValue(char c);
  void StepTag();
  void StepScript(char c);
  void StepStyle(char c);
  void StartScript();
  void EndTag(bool closing);
  bool RegexMayStart() const;
  bool LooksAt(std::string_view text) const;  // case-insensitive, `text` in lower case
  Placement Current() const;
  Placement ScriptPlacement(char attribute_quote) const;

  std::string_view page_;
  std::size_t pos_ = 0;
  Mode mode_ = Mode::kData;
  std::string tag_;  // lower-case name of the tag being read, or of the raw-text element
  bool closing_ = false;
  std::string attribute_;  // lower-case name of the attribute being read
  char attribute_quote_ = 0;
  std::size_t value_start_ = 0;
  Language language_ = Language::kNone;
  // Script state.
  Js js_ = Js::kCode;
  char js_quote_ = 0;
  bool escaped_ = false;
  bool in_class_ = false;
  char last_ = 0;  // last significant character of the code, 'a' for a word or number
  std::string word_, last_word_;
  // Style state.
  Css css_ = Css::kCode;
  char css_quote_ = 0;
};

// The places of every occurrence of `key` in `page`, in order.
std::vector<Placement> PlacementsOf(std::string_view page, std::string_view key);

}  // namespace heartpage
