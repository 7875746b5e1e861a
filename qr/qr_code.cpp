#include "qr/qr_code.h"

#include <qrencode.h>

#include <memory>

namespace heartpage {

std::optional<QrCode> QrCode::Encode(std::string_view text) {
  // Byte mode for the whole text: what a phone reads back is exactly the
  // UTF-8 that was given, with no guessing of a mode per part.
  const std::unique_ptr<QRcode, decltype(&QRcode_free)> encoded(
      QRcode_encodeData(static_cast<int>(text.size()),
                        reinterpret_cast<const unsigned char*>(text.data()), 0, QR_ECLEVEL_M),
      &QRcode_free);
  if (!encoded) return std::nullopt;
  const int size = encoded->width;
  std::vector<bool> modules(static_cast<std::size_t>(size) * static_cast<std::size_t>(size));
  for (std::size_t i = 0; i < modules.size(); ++i) modules[i] = (encoded->data[i] & 1) != 0;
  return QrCode(size, std::move(modules));
}

std::string QrTerminalText(const QrCode& code) {
  const int whole = code.size() + 2 * kQrQuietZone;
  const auto dark = [&](int x, int y) {
    x -= kQrQuietZone;
    y -= kQrQuietZone;
    return x >= 0 && y >= 0 && x < code.size() && y < code.size() && code.dark(x, y);
  };
  std::string text;
  for (int y = 0; y < whole; y += 2) {
    for (int x = 0; x < whole; ++x) {
      // The terminal's ink draws the light modules.
      const bool upper = !dark(x, y);
      const bool lower = y + 1 < whole && !dark(x, y + 1);
      text += upper && lower ? "█" : upper ? "▀" : lower ? "▄" : " ";
    }
    text += '\n';
  }
  return text;
}

}  // namespace heartpage
