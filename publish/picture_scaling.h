#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Pictures are made light for phones before they are sent: a photo is turned
// upright (its EXIF orientation applied), scaled to at most 1920 pixels on its
// longest side and saved as JPEG of quality 85. Pictures that may be
// transparent or animated (GIF always; PNG and WebP with an alpha channel or
// several frames) are sent as they are: re-encoding would lose what makes
// them what they are, and the server's size limit still applies.
namespace heartpage {

inline constexpr int kLongestSide = 1920;
inline constexpr int kJpegQuality = 85;

// The bytes to send instead of the file at `path`; nothing when the file goes
// as it is (already small and upright, transparent or animated, or unreadable
// here, which the server then judges).
std::optional<QByteArray> ScaledPicture(const QString& path);

}  // namespace heartpage
