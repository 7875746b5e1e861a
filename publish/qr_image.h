#pragma once

#include <QImage>
#include <QString>

#include "qr/qr_code.h"

namespace heartpage {

// The code as a picture: black modules on white, each `scale` pixels square
// (a whole number, so that every module has sharp edges), with the quiet
// zone around it. Scaled up further, it must be scaled without smoothing.
QImage QrImage(const QrCode& code, int scale);

// The scale at which the code, quiet zone included, fits `pixels`; at least 1.
int QrScaleFor(const QrCode& code, int pixels);

// Writes the code of `text` as a PNG of about `pixels` square to `file`;
// false when the text has no code or the file cannot be written.
bool SaveQrPng(const std::string& text, const QString& file, int pixels = 400);

}  // namespace heartpage
