#include <QKeyEvent>
#include <QPalette>
#include <QScrollArea>

#include "app/gallery.h"
#include "app/gallery_widgets.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "controls/chinese_font.h"
#include "controls/twips.h"
#include "editors/editors.h"
#include "net/server_requests.h"
#include "pages/styles.h"
#include "protocol/host.h"
#include "tasks/background.h"

// The gallery of the main window: its twelve tiles, their captions and
// pictures, and how the mouse and the keyboard open them.
namespace heartpage {
namespace {

constexpr int kBorder = 1;  // the one-pixel frame of the panel and the tiles

struct TileDesign {
  int left;
  int top;
};
constexpr TileDesign kTiles[12] = {
    {120, 240},   {2720, 240},  {5320, 240}, {7920, 240},  {120, 2400},  {2715, 2400},
    {5325, 2400}, {7920, 2400}, {120, 4560}, {2715, 4560}, {5325, 4560}, {7920, 4560},
};

// The tiles after the styles' promise more to come.
QString TileCaption(int tile) {
  if (tile >= kStyleTiles) return QStringLiteral("敬请期待");
  const std::string_view name = GalleryName(tile + 1);
  return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

constexpr int kGalleryColumns = 4;
// Above each thumbnail: the caption's band, made light enough under the
// artwork that the caption reads at 4.5:1 or better whatever lies behind.
constexpr int kBandTwips = 480;
const QColor kBandVeil(255, 255, 255, 230);
// The design's pure red read at about 3:1 on its band; this red holds 4.5:1
// on the veiled band.
const QColor kCaptionRed(0xB0, 0x00, 0x00);

QImage Thumbnail(int index) {
  if (index < kStyleTiles) {
    QImage own = ArtworkResource(QStringLiteral("thumbnails/style%1.jpg").arg(index + 1));
    if (!own.isNull()) return own;
  }
  // Decoded once for the four tiles that show it.
  static const QImage placeholder = ArtworkResource(QStringLiteral("placeholder.jpg"));
  return placeholder;
}

}  // namespace

QImage ArtworkResource(const QString& name) {
  return QImage(QStringLiteral(":/heartpage/") + name);
}

QList<QImage> GalleryThumbnails() {
  QList<QImage> pictures;
  for (int i = 0; i < static_cast<int>(std::size(kTiles)); ++i) pictures.append(Thumbnail(i));
  return pictures;
}

void MainWindow::BuildGallery(const QList<QImage>& thumbnails) {
  const QRect panel_rect = PxRect(120, 1680, 10480, 6615);
  // What lies behind the panel's inside: the panel and every tile show it
  // from its top-left corner. A view into the artwork rather than a copy (a
  // megabyte): the artwork is the window's and outlives every paint of its
  // children.
  const QRect inside(panel_rect.topLeft() + QPoint(kBorder, kBorder),
                     panel_rect.size() - QSize(2 * kBorder, 2 * kBorder));
  const QImage patch =
      background_.rect().contains(inside)
          ? QImage(
                background_.constScanLine(inside.top()) + inside.left() * background_.depth() / 8,
                inside.width(), inside.height(), background_.bytesPerLine(), background_.format())
          : background_.copy(inside);
  auto* panel = new SeeThroughBox(surface_, patch, false);
  panel->setObjectName(QStringLiteral("FGZS"));
  panel->setGeometry(panel_rect);

  const QFont caption_font = ChineseFont(ChineseFace::kHeiTi, 14.25);
  for (int i = 0; i < 12; ++i) {
    auto* tile = new SeeThroughBox(panel, patch, true);
    tile->SetBand(Px(kBandTwips), kBandVeil);
    tile->setObjectName(QStringLiteral("FG(%1)").arg(i));
    tile->setGeometry(
        QRect(QPoint(kBorder, kBorder) + PxRect(kTiles[i].left, kTiles[i].top, 0, 0).topLeft(),
              PxRect(0, 0, 2415, 1815).size()));
    const int inside_width = tile->width() - 2 * kBorder;

    auto* image = new ImageControl(tile, thumbnails[i]);
    image->setObjectName(QStringLiteral("Image1(%1)").arg(i));
    image->setGeometry(PxRect(0, 480, 2385, 1335).translated(kBorder, kBorder));
    connect(image, &ImageControl::Clicked, this, [this, i] { ThumbnailClicked(i); });
    image->setFocusPolicy(Qt::StrongFocus);
    image->setAccessibleName(TileCaption(i));
    if (!thumbnails_.isEmpty()) QWidget::setTabOrder(thumbnails_.back(), image);
    thumbnails_.append(image);

    auto* label = new InertLabel(TileCaption(i), tile);
    label->setObjectName(QStringLiteral("Label1(%1)").arg(i));
    label->setFont(caption_font);
    label->setAlignment(Qt::AlignCenter);
    QPalette red = label->palette();
    red.setColor(QPalette::WindowText, kCaptionRed);
    label->setPalette(red);
    label->adjustSize();
    const int width = label->width();
    label->setGeometry(kBorder + (inside_width - width) / 2, kBorder + Px(120), width,
                       std::max(Px(285), label->height()));
  }
  // The keyboard starts in the gallery, never on the close button.
  thumbnails_.front()->setFocus();
}

void MainWindow::ThumbnailClicked(int index) {
  if (index >= 0 && index < kStyleTiles) {
    ShowEditor(index + 1, services_);
    return;
  }
  RunInBackground(
      this, [post = EndpointPoster(services_)] { return FetchSettings(post); },
      [this](const SettingsFields& fields) {
        if (fields && fields->size() > kDownloadField && IsWebAddress((*fields)[kDownloadField])) {
          services_.open_target((*fields)[kDownloadField]);
        } else {
          services_.show_notice(
              {std::string(kUnreachableText), std::string(kNoticeTitle), NoticeIcon::kExclamation});
        }
      });
}

// The arrows move through the gallery by row and column and stop at its
// edges; Enter and Space are the thumbnails' own.
void MainWindow::keyPressEvent(QKeyEvent* event) {
  const int at = static_cast<int>(thumbnails_.indexOf(focusWidget()));
  int step = 0;
  switch (event->key()) {
    case Qt::Key_Left:
      step = at % kGalleryColumns == 0 ? 0 : -1;
      break;
    case Qt::Key_Right:
      step = at % kGalleryColumns == kGalleryColumns - 1 ? 0 : 1;
      break;
    case Qt::Key_Up:
      step = -kGalleryColumns;
      break;
    case Qt::Key_Down:
      step = kGalleryColumns;
      break;
    default:
      QWidget::keyPressEvent(event);
      return;
  }
  const int next = at < 0 ? 0 : at + step;
  if (next >= 0 && next < thumbnails_.size()) {
    thumbnails_[next]->setFocus(Qt::OtherFocusReason);
    // Where the window scrolls, the tile comes into sight (Tab does so by
    // itself).
    if (scroll_ != nullptr) scroll_->ensureWidgetVisible(thumbnails_[next]);
  }
  event->accept();
}

}  // namespace heartpage
