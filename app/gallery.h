#pragma once

#include <QImage>
#include <QList>
#include <QString>

namespace heartpage {

// Tiles 0 to 7 open the styles' editors; the others promise more to come.
inline constexpr int kStyleTiles = 8;

// A picture of the program's artwork, by its name among the resources.
QImage ArtworkResource(const QString& name);
// The twelve tiles' pictures, in gallery order; decodes, so the window asks
// for them off its thread.
QList<QImage> GalleryThumbnails();

}  // namespace heartpage
