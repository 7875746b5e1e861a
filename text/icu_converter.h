#pragma once

#include <unicode/ucnv.h>
#include <unicode/utf16.h>

#include <cstdint>
#include <memory>
#include <string_view>

// What the GBK tables' generator and the run-time codec both ask of ICU,
// written once so that the tables and the four-byte forms ICU still converts
// at run time cannot come to disagree.
namespace heartpage::icu_text {

struct ConverterCloser {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

// A converter that reports unmappable input instead of substituting, so that
// a real mapping can be told from a substitution character; null when ICU
// lacks it.
inline Converter OpenStrict(const char* name) {
  UErrorCode status = U_ZERO_ERROR;
  Converter converter(ucnv_open(name, &status));
  if (U_FAILURE(status)) return nullptr;
  ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                        &status);
  ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  ucnv_setFallback(converter.get(), false);
  return U_SUCCESS(status) ? std::move(converter) : nullptr;
}

// The one character that `bytes` decode to through `converter`, or `invalid`
// (also without a converter).
inline char32_t DecodeOne(UConverter* converter, std::string_view bytes, char32_t invalid) {
  if (converter == nullptr) return invalid;
  UChar units[4];
  UErrorCode status = U_ZERO_ERROR;
  const int32_t count =
      ucnv_toUChars(converter, units, 4, bytes.data(), static_cast<int32_t>(bytes.size()), &status);
  if (U_FAILURE(status)) return invalid;
  if (count == 1 && !U16_IS_SURROGATE(units[0])) return units[0];
  if (count == 2 && U16_IS_LEAD(units[0]) && U16_IS_TRAIL(units[1]))
    return U16_GET_SUPPLEMENTARY(units[0], units[1]);
  return invalid;
}

}  // namespace heartpage::icu_text
