#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "pages/placement.h"

// How a typed value is written into a page so that it stays the text that
// was typed, wherever it lands; none of it can end an element, a string or
// an attribute, or start a tag.
namespace heartpage {

// `value` written for `placement`:
//   kText          &, <, > as references; each line end as <br>
//   kTitle         &, <, > as references
//   kAttribute     &, <, >, " and ' as references
//   kAddress       SafeAddress, then as an attribute
//   kAddressPart   ASCII other than letters, digits and -._~ percent-encoded
//   kScriptString  a string literal's content: \\, \n, \r, and \uXXXX for
//                  quotes, <, >, &, `, control characters, U+2028 and U+2029
//   kScriptCode    a decimal number as it is (spaces trimmed), anything else as
//                  a string literal, so that the script still runs
//   kScriptComment line ends as spaces, < and * as \uXXXX text
//   kStyleSheet    only letters, digits, non-ASCII characters and #.%,- and space
//   kOther         only letters, digits and non-ASCII characters
std::string EncodeForPlacement(std::string_view value, const Placement& placement);

// Each line end ("\r\n", "\n" or "\r") of HTML text as <br>.
std::string HtmlLineBreaks(std::string_view html);

// An address a page may load or follow: http, https, or one without a scheme
// and host (relative to the page), with surrounding spaces trimmed. Anything
// else, javascript:, data: and "//host/…" included, gives the empty text.
std::string SafeAddress(std::string_view value);

// "#RGB" or "#RRGGBB" from a colour typed with or without its "#"; nothing
// for anything else.
std::optional<std::string> NormalColour(std::string_view value);

}  // namespace heartpage
