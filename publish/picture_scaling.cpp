#include "publish/picture_scaling.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <algorithm>

namespace heartpage {

std::optional<QByteArray> ScaledPicture(const QString& path) {
  QImageReader reader(path);
  reader.setAutoTransform(true);
  const QByteArray format = reader.format();
  if (format.isEmpty() || format == "gif") return std::nullopt;
  if (reader.supportsAnimation() && reader.imageCount() > 1) return std::nullopt;
  const QSize size = reader.size();
  const bool turned = reader.transformation() != QImageIOHandler::TransformationNone;
  const bool large = size.isValid() && std::max(size.width(), size.height()) > kLongestSide;
  if (!turned && !large) return std::nullopt;
  QImage image = reader.read();
  if (image.isNull()) return std::nullopt;
  // Transparency would turn black in a JPEG.
  if (format != "jpeg" && image.hasAlphaChannel()) return std::nullopt;
  if (std::max(image.width(), image.height()) > kLongestSide)
    image = image.scaled(kLongestSide, kLongestSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "jpeg");
  writer.setQuality(kJpegQuality);
  if (!writer.write(image.convertToFormat(QImage::Format_RGB32))) return std::nullopt;
  return bytes;
}

}  // namespace heartpage
