#pragma once

#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QWidget>

// The plain pieces the main window is built from.
namespace heartpage {

// A picture stretched over its whole size that reports a click (press and
// release over it); without a picture it is an invisible hot-spot. Shows the
// hand cursor. Given a focus policy, it shows a ring while it has the focus
// and takes Enter and Space for a click.
class ImageControl : public QWidget {
  Q_OBJECT
 public:
  explicit ImageControl(QWidget* parent, QImage picture = {});
  const QImage& Picture() const { return picture_; }

 signals:
  void Clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  QImage picture_;
  bool armed_ = false;
};

// A label that keeps presses to itself: the window under it does not move.
class InertLabel : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;

 protected:
  void mousePressEvent(QMouseEvent* event) override { event->accept(); }
};

// A box with a one-pixel frame whose inside shows a fixed patch of the
// window's artwork, as if the box were a window onto it.
class SeeThroughBox : public QWidget {
  Q_OBJECT
 public:
  // `patch` is drawn unscaled at the inside's top-left corner and clipped.
  SeeThroughBox(QWidget* parent, QImage patch, bool swallow_presses);
  // Lays `veil` over the top `height` pixels of the inside, under whatever
  // stands there.
  void SetBand(int height, QColor veil);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  QImage patch_;
  bool swallow_presses_;
  int band_height_ = 0;
  QColor band_veil_;
};

}  // namespace heartpage
