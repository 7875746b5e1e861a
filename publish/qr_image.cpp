#include "publish/qr_image.h"

#include <QColor>

namespace heartpage {

QImage QrImage(const QrCode& code, int scale) {
  const int whole = (code.size() + 2 * kQrQuietZone) * scale;
  // One bit a pixel: nothing in between black and white, whatever later
  // scaling or saving does.
  QImage image(whole, whole, QImage::Format_Mono);
  image.setColor(0, QColor(Qt::white).rgb());
  image.setColor(1, QColor(Qt::black).rgb());
  image.fill(0);
  for (int y = 0; y < code.size(); ++y) {
    for (int x = 0; x < code.size(); ++x) {
      if (!code.dark(x, y)) continue;
      const int left = (x + kQrQuietZone) * scale;
      const int top = (y + kQrQuietZone) * scale;
      for (int dy = 0; dy < scale; ++dy)
        for (int dx = 0; dx < scale; ++dx) image.setPixel(left + dx, top + dy, 1);
    }
  }
  return image;
}

int QrScaleFor(const QrCode& code, int pixels) {
  return std::max(1, pixels / (code.size() + 2 * kQrQuietZone));
}

bool SaveQrPng(const std::string& text, const QString& file, int pixels) {
  const std::optional<QrCode> code = QrCode::Encode(text);
  if (!code) return false;
  return QrImage(*code, QrScaleFor(*code, pixels)).save(file, "PNG");
}

}  // namespace heartpage
