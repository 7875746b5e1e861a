#include "publish/picture_scaling.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <algorithm>

namespace heartpage {
namespace {

// A decoder that cannot shrink while decoding (PNG) holds the whole picture
// first, up to 8 bytes a pixel for 16 bits a channel. Qt's usual ceiling for
// one picture refuses a large 16-bit photo; this much covers any camera's,
// and a picture beyond it is not one anybody means to put on a page.
constexpr qint64 kBytesPerPixel = 8;
constexpr int kMostMegabytes = 2048;

}  // namespace

LightPicture MakeLight(const QString& path) {
  QImageReader reader(path);
  reader.setAutoTransform(true);
  const QByteArray format = reader.format();
  if (format.isEmpty() || format == "gif") return {};
  if (reader.supportsAnimation() && reader.imageCount() > 1) return {};
  const QSize size = reader.size();
  const bool turned = reader.transformation() != QImageIOHandler::TransformationNone;
  const bool large = size.isValid() && std::max(size.width(), size.height()) > kLongestSide;
  if (!turned && !large) return {};
  if (large) {
    // The size before turning, which is what the decoder scales.
    reader.setScaledSize(size.scaled(kLongestSide, kLongestSide, Qt::KeepAspectRatio));
    const qint64 whole = qint64(size.width()) * size.height() * kBytesPerPixel;
    const int needed = static_cast<int>(std::min<qint64>((whole >> 20) + 1, kMostMegabytes));
    reader.setAllocationLimit(std::max(reader.allocationLimit(), needed));
  }
  QImage image = reader.read();
  if (image.isNull()) return {LightPicture::kUnreadable, {}};
  // Transparency would turn black in a JPEG: a small picture keeps its own
  // file, a large one is scaled and stays transparent.
  const bool transparent = format != "jpeg" && image.hasAlphaChannel();
  if (transparent && !large) return {};
  if (std::max(image.width(), image.height()) > kLongestSide)
    image = image.scaled(kLongestSide, kLongestSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, transparent ? "png" : "jpeg");
  if (!transparent) writer.setQuality(kJpegQuality);
  const QImage::Format written = transparent ? QImage::Format_ARGB32 : QImage::Format_RGB32;
  if (!writer.write(image.convertToFormat(written))) return {LightPicture::kUnreadable, {}};
  return {LightPicture::kMadeLight, bytes};
}

}  // namespace heartpage
