#include "controls/ibutton.h"

#include <QApplication>
#include <QBitmap>
#include <QCursor>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>
#include <cstdlib>

#include "controls/chinese_font.h"
#include "controls/ole_color.h"
#include "controls/twips.h"

namespace heartpage {
namespace {

constexpr double kHimetricPerPixel = 26.45836;
constexpr int kHoverIntervalMs = 50;
constexpr std::int16_t kEnter = 13;
constexpr std::int16_t kSpace = 32;

// Halves go to the even neighbour, as the original arithmetic did.
int RoundHalfEven(double value) {
  return static_cast<int>(std::nearbyint(value));
}

// A picture's size as its HIMETRIC measure (a whole number) holds it; the
// cells are computed back from that, so that odd strip widths split exactly
// as they always have.
double PixelsViaHimetric(int pixels) {
  const long himetric = std::lround(pixels * 2540.0 / 96.0);
  return static_cast<double>(himetric) / kHimetricPerPixel;
}

short ButtonCode(Qt::MouseButton button) {
  switch (button) {
    case Qt::LeftButton:
      return 1;
    case Qt::RightButton:
      return 2;
    case Qt::MiddleButton:
      return 4;
    default:
      return 0;
  }
}

// How far (per channel) a pixel may be from the mask colour and still count
// as see-through.
constexpr int kMaskTolerance = 24;

short ButtonsMask(Qt::MouseButtons buttons) {
  short mask = 0;
  if (buttons & Qt::LeftButton) mask |= 1;
  if (buttons & Qt::RightButton) mask |= 2;
  if (buttons & Qt::MiddleButton) mask |= 4;
  return mask;
}

short ShiftMask(Qt::KeyboardModifiers modifiers) {
  short mask = 0;
  if (modifiers & Qt::ShiftModifier) mask |= 1;
  if (modifiers & Qt::ControlModifier) mask |= 2;
  if (modifiers & Qt::AltModifier) mask |= 4;
  return mask;
}

// The virtual key codes hosts test against (13 Enter, 32 Space, 65 A, ...).
short KeyCode(const QKeyEvent& event) {
  const int key = event.key();
  if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
    return static_cast<short>(key);
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return static_cast<short>(112 + key - Qt::Key_F1);
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return kEnter;
    case Qt::Key_Space:
      return kSpace;
    case Qt::Key_Backspace:
      return 8;
    case Qt::Key_Tab:
      return 9;
    case Qt::Key_Shift:
      return 16;
    case Qt::Key_Control:
      return 17;
    case Qt::Key_Alt:
      return 18;
    case Qt::Key_Pause:
      return 19;
    case Qt::Key_CapsLock:
      return 20;
    case Qt::Key_Escape:
      return 27;
    case Qt::Key_PageUp:
      return 33;
    case Qt::Key_PageDown:
      return 34;
    case Qt::Key_End:
      return 35;
    case Qt::Key_Home:
      return 36;
    case Qt::Key_Left:
      return 37;
    case Qt::Key_Up:
      return 38;
    case Qt::Key_Right:
      return 39;
    case Qt::Key_Down:
      return 40;
    case Qt::Key_Insert:
      return 45;
    case Qt::Key_Delete:
      return 46;
    default:
      return 0;
  }
}

}  // namespace

iButton::iButton(QWidget* parent) : QWidget(parent), timer_(new QTimer(this)) {
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setFont(ChineseFont(ChineseFace::kSongTi, 9));
  image_ = QImage(size(), QImage::Format_ARGB32_Premultiplied);
  timer_->setObjectName(QStringLiteral("Timer1"));
  timer_->setInterval(kHoverIntervalMs);
  connect(timer_, &QTimer::timeout, this, &iButton::OnTimer);
  timer_->start();
  BuildCells();
}

iButton::~iButton() {
  cells_.clear();
  back_picture_ = QImage();
}

qulonglong iButton::Hwnd() const {
  return static_cast<qulonglong>(effectiveWinId());
}

void iButton::SetcDrawMode(std::int16_t mode) {
  draw_mode_ = mode;
  Redraw();
  emit PropertyChanged(QStringLiteral("cDrawMode"));
}

void iButton::SetcFont(const QFont& new_font) {
  setFont(new_font);
  Redraw();
  emit PropertyChanged(QStringLiteral("cFont"));
}

void iButton::SetcForeColor(OleColor color) {
  fore_color_ = color;
  Redraw();
  emit PropertyChanged(QStringLiteral("cForeColor"));
}

void iButton::SetAutoSize(bool auto_size) {
  auto_size_ = auto_size;
  if (auto_size) BuildCells();
  emit PropertyChanged(QStringLiteral("AutoSize"));
}

void iButton::SetValue(bool value) {
  if (style_ != 1) {
    value_ = false;
    return;
  }
  value_ = value;
  cMouseAction(CurrentState(), true);
}

void iButton::SetStyle(std::int32_t style) {
  style_ = style;
  BuildCells();
  emit PropertyChanged(QStringLiteral("Style"));
}

void iButton::SetBackPicture(const QImage& picture) {
  back_picture_ = picture;
  BuildCells();
  emit PropertyChanged(QStringLiteral("BackPicture"));
}

void iButton::SetEnabled(bool enabled) {
  setEnabled(enabled);  // changeEvent redraws
  emit PropertyChanged(QStringLiteral("Enabled"));
}

void iButton::SetcBackStyle(std::int32_t back_style) {
  back_style_ = static_cast<std::int16_t>(back_style);
  // An opaque button shows all of itself; a stale mask would cut it.
  if (back_color_.value == 0 || back_style_ != 0) clearMask();
  Redraw();
  emit PropertyChanged(QStringLiteral("cBackStyle"));
}

void iButton::SetCaption(const QString& caption) {
  caption_ = caption;
  Redraw();
  emit PropertyChanged(QStringLiteral("Caption"));
}

void iButton::SetBackColor(OleColor color) {
  back_color_ = color;
  Redraw();
}

void iButton::cMouseAction(std::int32_t cAction, bool vComplePaint) {
  if (cAction == shown_state_ && !vComplePaint) return;
  shown_state_ = cAction;
  DrawState(cAction);
}

int iButton::CellWidth() const {
  if (back_picture_.isNull()) return 0;
  return RoundHalfEven(PixelsViaHimetric(back_picture_.width()) / (style_ == 0 ? 5 : 10));
}

int iButton::CellHeight() const {
  if (back_picture_.isNull()) return 0;
  return RoundHalfEven(PixelsViaHimetric(back_picture_.height()));
}

void iButton::ReadProperties(const PropertyBag& bag) {
  reading_ = true;
  back_picture_ = bag.Read<QImage>("BackPicture", QImage());
  setEnabled(bag.Read<bool>("Enabled", true));
  back_style_ = bag.Read<std::int16_t>("cBackStyle", 1);
  caption_ = QString::fromStdString(bag.Read<std::string>("Caption", {}));
  style_ = bag.Read<std::int32_t>("Style", 0);
  auto_size_ = bag.Read<bool>("AutoSize", true);
  fore_color_ = bag.Read<OleColor>("cForeColor", fore_color_);
  setFont(bag.Read<QFont>("cFont", font()));
  draw_mode_ = bag.Read<std::int16_t>("cDrawMode", draw_mode_);
  reading_ = false;
}

void iButton::WriteProperties(PropertyBag& bag) const {
  bag.WriteProperty("BackPicture", back_picture_, QImage());
  bag.WriteProperty("Enabled", isEnabled(), true);
  bag.WriteProperty("Style", style_, std::int32_t{0});
  bag.WriteProperty("cBackStyle", static_cast<std::int16_t>(back_style_), std::int16_t{1});
  bag.WriteProperty("Caption", caption_.toStdString(), std::string());
  bag.WriteProperty("AutoSize", auto_size_, true);
  bag.WriteProperty("cFont", font());
  bag.WriteProperty("cDrawMode", draw_mode_);
  bag.WriteProperty("cForeColor", fore_color_);
}

// A disabled window is never the window under the pointer.
bool iButton::IsCursorOver() const {
  return isEnabled() && isVisible() && QApplication::widgetAt(QCursor::pos()) == this;
}

std::int32_t iButton::CurrentState() const {
  if (!isEnabled()) return kDisabled;
  if (left_down_) return IsCursorOver() ? kPressed : kNormal;
  return IsCursorOver() ? kOver : kNormal;
}

void iButton::Redraw() {
  DrawState(CurrentState());
}

void iButton::DrawState(std::int32_t s) {
  if (image_.size() != size()) image_ = QImage(size(), QImage::Format_ARGB32_Premultiplied);
  image_.fill(ToQColor(back_color_, palette()));
  DrawCellPicture();
  if (!caption_.isEmpty()) {
    const QFontMetricsF metrics(font());
    const double text_width = metrics.horizontalAdvance(caption_) * kTwipsPerPixel;
    const double text_height = metrics.height() * kTwipsPerPixel;
    int x = RoundHalfEven(width() * kTwipsPerPixel / 2.0 - text_width / 2.0);
    int y = RoundHalfEven(height() * kTwipsPerPixel / 2.0 - text_height / 2.0);
    if (s == kPressed) {
      x += kTwipsPerPixel;
      y += kTwipsPerPixel;
    }
    QPainter painter(&image_);
    painter.setFont(font());
    painter.setPen(ToQColor(fore_color_, palette()));
    painter.drawText(QPointF(static_cast<double>(x) / kTwipsPerPixel,
                             static_cast<double>(y) / kTwipsPerPixel + metrics.ascent()),
                     caption_);
  }
  update();
}

void iButton::DrawCellPicture() {
  const QImage* cell = CellPicture(shown_state_);
  if (cell == nullptr) return;
  {
    QPainter painter(&image_);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(QRect(QPoint(0, 0), size()), *cell);
  }
  if (back_style_ != 0) return;
  // See-through mode: the host shows wherever the drawn cell is the mask
  // colour. The caption is printed afterwards, inside the same mask.
  const QColor mask = ToQColor(mask_color_, palette());
  QImage opaque = image_.convertToFormat(QImage::Format_RGB32);
  // A back picture that went through a lossy format (a JPEG strip) brings
  // its mask-coloured ground back a few units off: still the ground.
  for (int y = 0; y < opaque.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(opaque.scanLine(y));
    for (int x = 0; x < opaque.width(); ++x) {
      if (std::abs(qRed(line[x]) - mask.red()) <= kMaskTolerance &&
          std::abs(qGreen(line[x]) - mask.green()) <= kMaskTolerance &&
          std::abs(qBlue(line[x]) - mask.blue()) <= kMaskTolerance)
        line[x] = mask.rgb();
    }
  }
  setMask(QBitmap::fromImage(opaque.createMaskFromColor(mask.rgb(), Qt::MaskInColor)));
}

const QImage* iButton::CellPicture(std::int32_t s) const {
  if (!has_cells_) return nullptr;
  const std::int64_t index =
      static_cast<std::int64_t>(s) + 4 * static_cast<std::int64_t>(style_) * (value_ ? 1 : 0);
  if (index < 0 || index >= static_cast<std::int64_t>(cells_.size())) return nullptr;
  return &cells_[static_cast<std::size_t>(index)];
}

void iButton::BuildCells() {
  cells_.clear();
  if (back_picture_.isNull()) {
    has_cells_ = false;
  } else {
    const int h = CellHeight();
    const int w = CellWidth();
    const std::int64_t count = static_cast<std::int64_t>(style_) * 4 + 4;
    for (std::int64_t i = 0; i < count; ++i)
      cells_.push_back(back_picture_.copy(static_cast<int>(i) * w, 0, w, h));
    if (auto_size_ && w > 0 && h > 0) resize(w, h);
    has_cells_ = true;
  }
  cMouseAction(CurrentState(), true);
}

void iButton::PlatformClick() {
  if (last_button_ != 1) return;
  cMouseAction(CurrentState(), true);
  emit Click();
}

void iButton::OnTimer() {
  if (IsCursorOver()) {
    if (left_down_) cMouseAction(kPressed, false);
  } else if (left_down_) {
    cMouseAction(kNormal, false);
  } else {
    timer_->stop();
    pointer_inside_ = false;
    emit MouseOut();
    cMouseAction(kNormal, false);
  }
}

void iButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(0, 0, image_);
}

void iButton::resizeEvent(QResizeEvent*) {
  if (auto_size_ && !back_picture_.isNull()) {
    const QSize cell(CellWidth(), CellHeight());
    if (cell.isValid() && !cell.isEmpty() && cell != size()) {
      resize(cell);  // comes back here with the cell's size
      return;
    }
  }
  cMouseAction(CurrentState(), true);
}

void iButton::showEvent(QShowEvent*) {
  if (shown_once_) return;
  shown_once_ = true;
  BuildCells();
}

void iButton::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::EnabledChange && !reading_) cMouseAction(CurrentState(), true);
}

void iButton::focusInEvent(QFocusEvent*) {
  cMouseAction(CurrentState(), true);
}
void iButton::focusOutEvent(QFocusEvent*) {
  cMouseAction(CurrentState(), true);
}

void iButton::mousePressEvent(QMouseEvent* event) {
  short button = ButtonCode(event->button());
  short shift = ShiftMask(event->modifiers());
  float x = static_cast<float>(event->position().x());
  float y = static_cast<float>(event->position().y());
  emit MouseDown(button, shift, x, y);
  last_button_ = button;
  click_armed_ = true;
  if (button == 1) {
    cMouseAction(kPressed, false);
    left_down_ = true;
  }
}

void iButton::mouseReleaseEvent(QMouseEvent* event) {
  short button = ButtonCode(event->button());
  short shift = ShiftMask(event->modifiers());
  float x = static_cast<float>(event->position().x());
  float y = static_cast<float>(event->position().y());
  emit MouseUp(button, shift, x, y);
  if (button == 1) {
    if (IsCursorOver()) {
      if (style_ == 1) value_ = !value_;
      cMouseAction(kOver, true);
    } else {
      cMouseAction(kNormal, true);
    }
    left_down_ = false;
  }
  // The platform's click: a press on the button released over it.
  const bool released_inside = rect().contains(event->position().toPoint());
  if (click_armed_ && released_inside) PlatformClick();
  click_armed_ = false;
}

void iButton::mouseDoubleClickEvent(QMouseEvent*) {
  // Stands for the second press of a double click: no MouseDown, and its
  // release is no click.
  click_armed_ = false;
  if (last_button_ == 1) cMouseAction(kPressed, false);
  emit DBClick();
}

void iButton::mouseMoveEvent(QMouseEvent* event) {
  short button = ButtonsMask(event->buttons());
  short shift = ShiftMask(event->modifiers());
  float x = static_cast<float>(event->position().x());
  float y = static_cast<float>(event->position().y());
  emit MouseMove(button, shift, x, y);
  if (IsCursorOver() && !pointer_inside_) {
    cMouseAction(kOver, false);
    pointer_inside_ = true;
    timer_->start();
    emit MouseOver();
  }
}

void iButton::keyPressEvent(QKeyEvent* event) {
  short key = KeyCode(*event);
  short shift = ShiftMask(event->modifiers());
  emit KeyDown(key, shift);
  if (key == kEnter) {
    if (style_ == 1) value_ = !value_;
    cMouseAction(CurrentState(), true);
    emit Click();
  } else if (key == kSpace) {
    cMouseAction(kPressed, true);
  }
  const QString text = event->text();
  if (text.size() == 1 && text.at(0).unicode() < 0x8000) {
    short ascii = static_cast<short>(text.at(0).unicode());
    emit KeyPress(ascii);
  }
}

void iButton::keyReleaseEvent(QKeyEvent* event) {
  // Auto-repeat is a stream of key-downs; only the real release counts.
  if (event->isAutoRepeat()) return;
  short key = KeyCode(*event);
  short shift = ShiftMask(event->modifiers());
  emit KeyUP(key, shift);
  if (key == kSpace) {
    if (style_ == 1) value_ = !value_;
    cMouseAction(CurrentState(), true);
    emit Click();
  }
}

}  // namespace heartpage
