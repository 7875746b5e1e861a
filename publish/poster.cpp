#include "publish/poster.h"

#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <algorithm>
#include <cctype>

#include "controls/chinese_font.h"
#include "pages/styles.h"
#include "protocol/host.h"
#include "protocol/media_kind.h"
#include "protocol/wire.h"
#include "publish/page_gate.h"
#include "publish/page_source.h"
#include "publish/qr_image.h"
#include "qr/qr_code.h"
#include "text/qstring.h"

namespace heartpage {
namespace {

constexpr int kMargin = 60;
constexpr int kPictureTop = 80;
constexpr int kPictureWidth = kPosterWidth - 2 * kMargin;
// A portrait photo is cut to this; the artwork is wider than tall and keeps
// its shape, at least this high.
constexpr int kTallestPicture = 760;
constexpr int kLowestPicture = 420;
// About 14 pixels a module for an address: read from a phone's screen
// photographed by another phone, quiet zone kept.
constexpr int kQrPixels = 520;
constexpr int kQrPadding = 28;
constexpr int kLineGap = 44;
constexpr int kLargestLinePixels = 68;
constexpr int kHintPixels = 40;
constexpr int kOpeningPixels = 48;
constexpr int kSitePixels = 26;
const QColor kInk(0xB0, 0x00, 0x2A);
const QColor kQuiet(0x66, 0x55, 0x5A);

QFont FaceOfPixels(int pixels) {
  QFont font = ChineseFont(ChineseFace::kHeiTi, 12);
  font.setPixelSize(pixels);
  return font;
}

// The lines of `text` at `font` within `width`, wrapped at words where
// there are any and between any two characters of Chinese.
QStringList Wrapped(const QString& text, const QFont& font, int width) {
  QTextLayout layout(text, font);
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  QStringList lines;
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(width);
    lines.append(text.mid(line.textStart(), line.textLength()));
  }
  layout.endLayout();
  return lines;
}

// `picture` cut to fill `size`, its middle kept.
QImage Covering(const QImage& picture, QSize size) {
  const QImage scaled =
      picture.scaled(size, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
  return scaled.copy((scaled.width() - size.width()) / 2, (scaled.height() - size.height()) / 2,
                     size.width(), size.height());
}

void DrawHeart(QPainter& painter, QPointF centre, double size, const QColor& colour) {
  QPainterPath heart;
  const double s = size / 2;
  heart.moveTo(centre.x(), centre.y() + s);
  heart.cubicTo(centre.x() - 2.2 * s, centre.y() - 0.2 * s, centre.x() - 0.9 * s,
                centre.y() - 1.6 * s, centre.x(), centre.y() - 0.6 * s);
  heart.cubicTo(centre.x() + 0.9 * s, centre.y() - 1.6 * s, centre.x() + 2.2 * s,
                centre.y() - 0.2 * s, centre.x(), centre.y() + s);
  painter.fillPath(heart, colour);
}

}  // namespace

FittedLine FitPosterLine(const QString& text, int width, int height) {
  FittedLine fitted;
  // Past the smallest size meant for it a long line still shows whole, only
  // smaller, rather than lose a character.
  for (int pixels = kLargestLinePixels;; pixels -= 2) {
    fitted.font = FaceOfPixels(pixels);
    fitted.line_height = QFontMetrics(fitted.font).lineSpacing();
    fitted.lines = Wrapped(text, fitted.font, width);
    if (static_cast<int>(fitted.lines.size()) * fitted.line_height <= height || pixels <= 8)
      return fitted;
  }
}

namespace {

// The pink ground with its pale hearts.
void DrawGround(QPainter& painter, const QRect& whole) {
  QLinearGradient ground(0, 0, 0, kPosterHeight);
  ground.setColorAt(0, QColor(0xFF, 0xE6, 0xEE));
  ground.setColorAt(1, QColor(0xFF, 0xC4, 0xD6));
  painter.fillRect(whole, ground);
  DrawHeart(painter, {110, 1010}, 70, QColor(255, 255, 255, 120));
  DrawHeart(painter, {980, 1060}, 50, QColor(255, 255, 255, 140));
  DrawHeart(painter, {150, 1700}, 44, QColor(255, 255, 255, 110));
  DrawHeart(painter, {950, 1620}, 80, QColor(255, 255, 255, 100));
}

// The picture, as wide as the poster less its margins, its corners round;
// answers where the room under it begins.
int DrawPicture(QPainter& painter, const PosterContent& content) {
  if (!content.picture.isNull()) {
    const int shaped = kPictureWidth * content.picture.height() / content.picture.width();
    const int height = std::clamp(shaped, kLowestPicture, kTallestPicture);
    const QRect frame(kMargin, kPictureTop, kPictureWidth, height);
    QPainterPath rounded;
    rounded.addRoundedRect(frame, 36, 36);
    painter.save();
    painter.setClipPath(rounded);
    painter.drawImage(frame.topLeft(), Covering(content.picture, frame.size()));
    painter.restore();
    painter.setPen(QPen(QColor(255, 255, 255), 8));
    painter.drawPath(rounded);
    return frame.bottom();
  }
  if (content.held_back) {
    // Nothing of the page's before it opens (the site shows only its own
    // page then): a heart in the picture's place.
    DrawHeart(painter, {kPosterWidth / 2.0, kPictureTop + kLowestPicture / 2.0 + 40},
              kLowestPicture * 0.55, QColor(0xE8, 0x3A, 0x6A));
    return kPictureTop + kLowestPicture;
  }
  return kPictureTop;
}

// From the foot up: the site's name, the hint, the QR code on its card and,
// when the page opens at a moment, when; answers where the room over them
// ends.
int DrawFoot(QPainter& painter, const PosterContent& content, const QrCode& code) {
  const QFont site_font = FaceOfPixels(kSitePixels);
  const int site_top = kPosterHeight - 56 - QFontMetrics(site_font).height();
  painter.setFont(site_font);
  painter.setPen(kQuiet);
  painter.drawText(QRect(0, site_top, kPosterWidth, QFontMetrics(site_font).height()),
                   Qt::AlignHCenter | Qt::AlignVCenter, content.site);

  const QFont hint_font = FaceOfPixels(kHintPixels);
  const int hint_height = QFontMetrics(hint_font).height();
  const int hint_top = site_top - 36 - hint_height;
  painter.setFont(hint_font);
  painter.setPen(QColor(0x44, 0x33, 0x38));
  painter.drawText(QRect(0, hint_top, kPosterWidth, hint_height),
                   Qt::AlignHCenter | Qt::AlignVCenter, Q(kPosterScanHint));

  // Whole pixels a module and no smoothing: every edge sharp.
  const QImage qr = QrImage(code, QrScaleFor(code, kQrPixels));
  const int card_side = qr.width() + 2 * kQrPadding;
  const QRect card((kPosterWidth - card_side) / 2, hint_top - 24 - card_side, card_side, card_side);
  painter.setPen(Qt::NoPen);
  painter.setBrush(Qt::white);
  painter.drawRoundedRect(card, 28, 28);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  painter.drawImage(card.left() + kQrPadding, card.top() + kQrPadding, qr);

  if (content.opening.isEmpty()) return card.top();
  const QFont opening_font = FaceOfPixels(kOpeningPixels);
  const int opening_height = QFontMetrics(opening_font).height();
  const int opening_top = card.top() - 24 - opening_height;
  painter.setFont(opening_font);
  painter.setPen(kInk);
  painter.drawText(QRect(0, opening_top, kPosterWidth, opening_height),
                   Qt::AlignHCenter | Qt::AlignVCenter, content.opening);
  return opening_top;
}

// The line between `top` and `bottom`, each of its lines centred.
void DrawLine(QPainter& painter, const QString& text, int top, int bottom) {
  const int room_top = top + kLineGap;
  const int room = std::min(kPosterLineHeight, bottom - kLineGap - room_top);
  const FittedLine fitted = FitPosterLine(text, kPosterLineWidth, room);
  const int block = static_cast<int>(fitted.lines.size()) * fitted.line_height;
  int y = room_top + (bottom - kLineGap - room_top - block) / 2;
  painter.setFont(fitted.font);
  painter.setPen(kInk);
  for (const QString& line : fitted.lines) {
    painter.drawText(QRect(kMargin, y, kPosterWidth - 2 * kMargin, fitted.line_height),
                     Qt::AlignHCenter | Qt::AlignVCenter, line.trimmed());
    y += fitted.line_height;
  }
}

}  // namespace

QImage DrawPoster(const PosterContent& content) {
  const std::optional<QrCode> code = QrCode::Encode(content.address);
  if (!code) return {};
  QImage poster(kPosterWidth, kPosterHeight, QImage::Format_RGB32);
  QPainter painter(&poster);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  DrawGround(painter, poster.rect());
  const int below_picture = DrawPicture(painter, content);
  const int above_foot = DrawFoot(painter, content, *code);
  DrawLine(painter, content.line, below_picture, above_foot);
  painter.end();
  return poster;
}

QImage StyleArtwork(int style) {
  if (style < 1 || style > 8) return {};
  return QImage(QStringLiteral(":/heartpage/cards/style%1.jpg").arg(style));
}

std::vector<std::string> OwnPictureAddresses(std::string_view page) {
  const std::string prefix = PublishingOrigin() + std::string(wire::kMediaPrefix);
  std::vector<std::string> found;
  for (std::size_t at = page.find(prefix); at != std::string_view::npos;
       at = page.find(prefix, at + prefix.size())) {
    std::size_t end = at + prefix.size();
    while (end < page.size() &&
           (std::isalnum(static_cast<unsigned char>(page[end])) != 0 || page[end] == '.'))
      ++end;
    const std::string_view name = page.substr(at + prefix.size(), end - at - prefix.size());
    const std::optional<MediaType> type = MediaTypeOfName(name);
    if (!type || type->kind != MediaKind::kPicture) continue;
    std::string address(page.substr(at, end - at));
    if (std::find(found.begin(), found.end(), address) == found.end())
      found.push_back(std::move(address));
  }
  return found;
}

QImage PosterPicture(std::string_view page, const PictureFetch& fetch, std::string& address) {
  address.clear();
  if (fetch) {
    for (const std::string& own : OwnPictureAddresses(page)) {
      const std::optional<std::string> bytes = fetch(own);
      if (!bytes) continue;
      QImage picture = QImage::fromData(reinterpret_cast<const uchar*>(bytes->data()),
                                        static_cast<int>(bytes->size()));
      if (picture.isNull()) continue;
      address = own;
      return picture;
    }
  }
  return StyleArtwork(StyleOfPage(page));
}

QString PosterSiteName() {
  return QStringLiteral("HeartPage 表白网页 · ") + QString::fromStdString(PublishingHost());
}

bool HeldBack(std::string_view opens_utc, bool has_code) {
  if (has_code) return true;
  const std::vector<std::string> gate =
      GateLines(opens_utc, false, std::chrono::system_clock::now());
  // A moment passed holds nothing back: "已于 … 开启".
  return !gate.empty() && gate.front().starts_with("将于");
}

PosterContent PosterContentOf(std::string_view page, const std::string& address,
                              const QString& line, const PictureFetch& fetch,
                              std::string_view opens_utc, bool has_code) {
  const bool waits = HeldBack(opens_utc, false);
  const bool held_back = waits || has_code;
  QString words = line.trimmed();
  if (words.isEmpty()) words = held_back ? Q(kPosterHeldBackLine) : Q(PageTitle(page));
  words.replace(QLatin1Char('\n'), QLatin1Char(' '));
  PosterContent content{{}, words, address, PosterSiteName(), {}, {}, held_back};
  if (waits) content.opening = Q(OpeningText(opens_utc)) + QStringLiteral(" 开启");
  // No photo of the sender's: it is the page's to show, when it opens. Nor
  // the style's artwork, which carries its sample couple's names: the heart.
  if (!held_back) content.picture = PosterPicture(page, fetch, content.picture_address);
  return content;
}

}  // namespace heartpage
