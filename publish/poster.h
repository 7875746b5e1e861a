#pragma once

#include <QFont>
#include <QImage>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The poster of a published page: a tall picture to send in a chat, whose QR
// code opens the page on a long press. Drawn with Qt's painter on an image,
// without any window, so the command line makes the same one as the dialog.
namespace heartpage {

// The usual portrait of a chat's picture.
inline constexpr int kPosterWidth = 1080;
inline constexpr int kPosterHeight = 1920;

// Under the QR code.
inline constexpr std::string_view kPosterScanHint = "长按识别二维码";
// The line of a page held back until its moment or its code, in place of
// any words of the page's own.
inline constexpr std::string_view kPosterHeldBackLine = "有一份心意，等你打开";

struct PosterContent {
  QImage picture;       // the page's picture; null for none
  QString line;         // the sender's line, else the page's title
  std::string address;  // what the QR code opens
  QString site;         // the site's name, set small at the foot
  // The sender's photo that `picture` is; empty for the style's artwork.
  std::string picture_address;
  // "2月14日 20:00 开启" over the QR code, for a page that opens at a moment.
  QString opening;
  // The page keeps its content back until its moment or code: the poster
  // shows none of it, and a heart where no artwork is known.
  bool held_back = false;
};

// The poster of `content`; null when the address has no QR code.
QImage DrawPoster(const PosterContent& content);

// The line as it is set: the largest size at which it wraps into `height`,
// and its lines (the text's characters in order, none dropped). A line too
// long for any readable size shrinks further rather than lose a character.
struct FittedLine {
  QFont font;
  QStringList lines;
  int line_height = 0;
};
FittedLine FitPosterLine(const QString& text, int width, int height);
// The width and height the poster gives its line.
inline constexpr int kPosterLineWidth = 920;
inline constexpr int kPosterLineHeight = 300;

// The artwork of style 1 ... 8, its link card's picture; null for another.
QImage StyleArtwork(int style);

// The addresses of the sender's own pictures that `page` names, on the
// publishing host, in the page's order and each once.
std::vector<std::string> OwnPictureAddresses(std::string_view page);

// The picture of the poster: the first of the sender's own pictures that
// `fetch` brings and that decodes (its address in `address`), else the
// style's artwork (`address` left empty).
using PictureFetch = std::function<std::optional<std::string>(const std::string& address)>;
QImage PosterPicture(std::string_view page, const PictureFetch& fetch, std::string& address);

// The name set at the poster's foot: the site and its host.
QString PosterSiteName();

// Whether a page that opens at `opens_utc` (empty for at once), and with a
// code or not, keeps its content back now.
bool HeldBack(std::string_view opens_utc, bool has_code);

// Everything from the built page: its picture (through `fetch`), `line` or
// else its title, and the QR code of `address`. A page that opens at
// `opens_utc` still to come, or to a code, shows the style's artwork and,
// unless `line` is given, kPosterHeldBackLine; a page that opens at a moment
// says when.
PosterContent PosterContentOf(std::string_view page, const std::string& address,
                              const QString& line, const PictureFetch& fetch,
                              std::string_view opens_utc = {}, bool has_code = false);

}  // namespace heartpage
