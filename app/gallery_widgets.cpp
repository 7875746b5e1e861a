#include "app/gallery_widgets.h"

#include <QMouseEvent>
#include <QPainter>

namespace heartpage {

ImageControl::ImageControl(QWidget* parent, QImage picture)
    : QWidget(parent), picture_(std::move(picture)) {
  setCursor(Qt::PointingHandCursor);
}

void ImageControl::paintEvent(QPaintEvent*) {
  if (picture_.isNull()) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(rect(), picture_);
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

SeeThroughBox::SeeThroughBox(QWidget* parent, QImage patch, bool swallow_presses)
    : QWidget(parent), patch_(std::move(patch)), swallow_presses_(swallow_presses) {}

void SeeThroughBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect inside = rect().adjusted(1, 1, -1, -1);
  painter.setClipRect(inside);
  painter.drawImage(inside.topLeft(), patch_);
  painter.setClipping(false);
  painter.setPen(Qt::black);
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void SeeThroughBox::mousePressEvent(QMouseEvent* event) {
  if (swallow_presses_) {
    event->accept();
  } else {
    event->ignore();  // the window moves
  }
}

}  // namespace heartpage
