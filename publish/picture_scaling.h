#pragma once

#include <QByteArray>
#include <QString>

// Pictures are made light for phones before they are sent: a photo is turned
// upright (its EXIF orientation applied), scaled to at most 1920 pixels on its
// longest side and saved as JPEG of quality 85; a large picture that may be
// transparent is scaled alike but stays a PNG. Animated pictures (GIF always;
// PNG and WebP of several frames) are sent as they are: re-encoding would lose
// what makes them what they are, and the server's size limit still applies.
namespace heartpage {

inline constexpr int kLongestSide = 1920;
inline constexpr int kJpegQuality = 85;

struct LightPicture {
  enum Outcome {
    kAsItIs,     // already small and upright, animated, or of a kind not read
                 // here, which the server then judges
    kMadeLight,  // `bytes` go instead of the file
    kUnreadable  // a picture of a kind read here that cannot be decoded
  };
  Outcome outcome = kAsItIs;
  QByteArray bytes;
};

// What to send of the picture file at `path`.
LightPicture MakeLight(const QString& path);

}  // namespace heartpage
