#include "app/gallery_widgets.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace heartpage {
namespace {

// A ring that shows on light and dark pictures alike: a dark outer line
// around a light inner one, inside the picture's edge.
constexpr int kRingWidth = 4;
const QColor kRingOuter(0x10, 0x3C, 0xA0);
const QColor kRingInner(Qt::white);

}  // namespace

ImageControl::ImageControl(QWidget* parent, QImage picture)
    : QWidget(parent), picture_(std::move(picture)) {
  setCursor(Qt::PointingHandCursor);
}

void ImageControl::paintEvent(QPaintEvent*) {
  if (picture_.isNull()) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(rect(), picture_);
  if (!hasFocus()) return;
  painter.setPen(QPen(kRingOuter, kRingWidth, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  painter.setBrush(Qt::NoBrush);
  const int half = kRingWidth / 2;
  painter.drawRect(rect().adjusted(half, half, -half - 1, -half - 1));
  painter.setPen(QPen(kRingInner, 1));
  painter.drawRect(rect().adjusted(kRingWidth, kRingWidth, -kRingWidth - 1, -kRingWidth - 1));
}

void ImageControl::mousePressEvent(QMouseEvent* event) {
  armed_ = event->button() == Qt::LeftButton;
  event->accept();
}

void ImageControl::mouseReleaseEvent(QMouseEvent* event) {
  const bool click =
      armed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  armed_ = false;
  if (click) emit Clicked();
}

// Enter on press, as a default button takes it; a held key opens once.
void ImageControl::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
    event->accept();
    if (!event->isAutoRepeat()) emit Clicked();
    return;
  }
  QWidget::keyPressEvent(event);
}

void ImageControl::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  update();
}

void ImageControl::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  update();
}

SeeThroughBox::SeeThroughBox(QWidget* parent, QImage patch, bool swallow_presses)
    : QWidget(parent), patch_(std::move(patch)), swallow_presses_(swallow_presses) {}

void SeeThroughBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect inside = rect().adjusted(1, 1, -1, -1);
  painter.setClipRect(inside);
  painter.drawImage(inside.topLeft(), patch_);
  if (band_height_ > 0)
    painter.fillRect(QRect(inside.topLeft(), QSize(inside.width(), band_height_)), band_veil_);
  painter.setClipping(false);
  painter.setPen(Qt::black);
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void SeeThroughBox::SetBand(int height, QColor veil) {
  band_height_ = height;
  band_veil_ = veil;
  update();
}

void SeeThroughBox::mousePressEvent(QMouseEvent* event) {
  if (swallow_presses_) {
    event->accept();
  } else {
    event->ignore();  // the window moves
  }
}

}  // namespace heartpage
