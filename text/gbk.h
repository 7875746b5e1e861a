#pragma once

#include <optional>
#include <string>
#include <string_view>

// Every byte that leaves or enters the program passes through these two
// functions. Inside the program text is UTF-8; outside it is code page 936
// (GBK), extended to GB18030 for characters that GBK lacks.
namespace heartpage {

// UTF-8 to bytes. A character of code page 936 becomes its one or two bytes,
// exactly as Windows writes it; any other character becomes its GB18030 form
// (two or four bytes), which browsers read on pages labelled GBK or GB2312.
// A byte sequence that is not UTF-8 (a lone surrogate included) becomes "?".
std::string ToGbk(std::string_view utf8);

// Bytes in code page 936 or GB18030 to UTF-8. A byte sequence that neither
// defines becomes U+FFFD.
std::string FromGbk(std::string_view bytes);

// FromGbk(bytes) when ToGbk gives `bytes` back from it exactly, nothing
// otherwise: the bytes are text as this program writes it. One pass over
// text of ASCII and GBK's pairs, which is what pages are.
std::optional<std::string> FromGbkExactly(std::string_view bytes);

// Appends the UTF-8 form of one code point.
void AppendUtf8(std::string& out, char32_t code_point);

}  // namespace heartpage
