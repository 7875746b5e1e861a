#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// QR codes of addresses, free of any window: the module matrix, and a
// terminal drawing of it. The picture of it is in qr_image.h.
namespace heartpage {

// The dark and light modules of one QR code, without the quiet zone.
class QrCode {
 public:
  // Encodes `text` (UTF-8, taken as bytes) at error-correction level M, which
  // still reads with a fifteenth of the code smudged or covered by a thumb.
  // Null when the text does not fit any QR code.
  static std::optional<QrCode> Encode(std::string_view text);

  int size() const { return size_; }
  bool dark(int x, int y) const {
    return modules_[static_cast<std::size_t>(y) * static_cast<std::size_t>(size_) +
                    static_cast<std::size_t>(x)];
  }

 private:
  QrCode(int size, std::vector<bool> modules) : size_(size), modules_(std::move(modules)) {}
  int size_ = 0;
  std::vector<bool> modules_;
};

// Readers need four light modules around the code.
inline constexpr int kQrQuietZone = 4;

// The code drawn with Unicode half blocks, two module rows to a line of text,
// quiet zone included, light modules as the terminal's ink: dark terminals
// are the usual ones, and a reader needs dark modules on light ground. Each
// line ends in "\n".
std::string QrTerminalText(const QrCode& code);

}  // namespace heartpage
