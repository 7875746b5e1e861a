#pragma once

#include <QFont>
#include <QImage>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "controls/property_bag.h"

namespace heartpage {

// The owner-drawn picture button. Its whole look is one back picture: a strip
// of equally wide cells, one per state (normal, pointer over, pressed,
// disabled), and for a toggle button (Style 1) four more for the latched
// look. The cells are cut once, when the picture, Style or AutoSize changes,
// and only scaled when a state is drawn. What has been drawn stays in the
// persistent image (`Image`), which the paint event merely copies.
//
// The events carry their parameters by reference: a slot connected directly
// may change Button or KeyCode, and the button acts on the changed value
// (KeyCode 0 on Enter cancels the click). Buttons: 1 left, 2 right, 4
// middle; Shift: 1 Shift, 2 Ctrl, 4 Alt; X and Y in pixels on the button.
class iButton : public QWidget {
  Q_OBJECT
  Q_PROPERTY(qulonglong Hwnd READ Hwnd)
  Q_PROPERTY(short cDrawMode READ cDrawMode WRITE SetcDrawMode)
  Q_PROPERTY(QFont cFont READ cFont WRITE SetcFont)
  Q_PROPERTY(uint cForeColor READ cForeColorValue WRITE SetcForeColorValue)
  Q_PROPERTY(bool AutoSize READ AutoSize WRITE SetAutoSize)
  Q_PROPERTY(bool Value READ Value WRITE SetValue)
  Q_PROPERTY(int Style READ Style WRITE SetStyle)
  Q_PROPERTY(QImage BackPicture READ BackPicture WRITE SetBackPicture)
  Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
  Q_PROPERTY(int cBackStyle READ cBackStyle WRITE SetcBackStyle)
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
  Q_PROPERTY(qulonglong hdc READ hdc)
  Q_PROPERTY(QImage Image READ Image)

 public:
  // The states, the values of cMouseAction's cAction.
  enum State : std::int32_t { kNormal = 0, kOver = 1, kPressed = 2, kDisabled = 3 };

  explicit iButton(QWidget* parent = nullptr);
  ~iButton() override;

  // The native window the button draws into: on Windows and X11 the handle
  // of the nearest native ancestor (the top-level window, since the button
  // itself is not native); 0 before that window exists.
  qulonglong Hwnd() const;
  std::int16_t cDrawMode() const { return draw_mode_; }
  void SetcDrawMode(std::int16_t mode);
  QFont cFont() const { return font(); }
  void SetcFont(const QFont& font);
  OleColor cForeColor() const { return fore_color_; }
  void SetcForeColor(OleColor color);
  bool AutoSize() const { return auto_size_; }
  void SetAutoSize(bool auto_size);
  bool Value() const { return value_; }
  void SetValue(bool value);
  std::int32_t Style() const { return style_; }
  void SetStyle(std::int32_t style);
  const QImage& BackPicture() const { return back_picture_; }
  void SetBackPicture(const QImage& picture);
  bool Enabled() const { return isEnabled(); }
  void SetEnabled(bool enabled);
  std::int32_t cBackStyle() const { return back_style_; }
  void SetcBackStyle(std::int32_t back_style);
  const QString& Caption() const { return caption_; }
  void SetCaption(const QString& caption);
  // Qt draws through a backing store; no device context outlives a paint
  // event, on any platform, so there is none to hand out: always 0.
  qulonglong hdc() const { return 0; }
  // What the button shows: the persistent image of its surface.
  const QImage& Image() const { return image_; }

  // Design-time settings of the surface: the colour a clear fills with, and
  // the colour that is see-through in the transparent mode (cBackStyle 0).
  OleColor BackColor() const { return back_color_; }
  void SetBackColor(OleColor color);
  OleColor MaskColor() const { return mask_color_; }
  void SetMaskColor(OleColor color) { mask_color_ = color; }

  // Shows state cAction (State): drawn when it differs from the state shown
  // or when vComplePaint asks for a complete repaint.
  void cMouseAction(std::int32_t cAction, bool vComplePaint);

  // Run-time state, for hosts and tests that look.
  std::int32_t ShownState() const { return shown_state_; }
  bool HasCells() const { return has_cells_; }
  const std::vector<QImage>& Cells() const { return cells_; }
  bool PointerInside() const { return pointer_inside_; }
  bool LeftDown() const { return left_down_; }
  std::int16_t LastButton() const { return last_button_; }
  int CellWidth() const;
  int CellHeight() const;

  // The design: restored without drawing or reporting anything (the first
  // showing cuts the cells), saved with defaults as the design keeps them.
  void ReadProperties(const PropertyBag& bag);
  void WriteProperties(PropertyBag& bag) const;

 signals:
  void Click();
  void MouseDown(short& Button, short& Shift, float& X, float& Y);
  void KeyDown(short& KeyCode, short& Shift);
  void KeyUP(short& KeyCode, short& Shift);
  void KeyPress(short& KeyAscii);
  void MouseUp(short& Button, short& Shift, float& X, float& Y);
  void MouseMove(short& Button, short& Shift, float& X, float& Y);
  void MouseOut();
  void MouseOver();
  void DBClick();
  // A saved setting changed: the host's design needs saving again.
  void PropertyChanged(const QString& key);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  uint cForeColorValue() const { return fore_color_.value; }
  void SetcForeColorValue(uint value) { SetcForeColor(OleColor{value}); }

  bool IsCursorOver() const;
  std::int32_t CurrentState() const;
  void Redraw();
  void DrawState(std::int32_t s);
  void DrawCellPicture();
  const QImage* CellPicture(std::int32_t s) const;
  void BuildCells();
  void PlatformClick();
  void OnTimer();

  QTimer* timer_;
  QImage back_picture_;
  std::vector<QImage> cells_;
  bool has_cells_ = false;
  bool value_ = false;
  std::int32_t style_ = 0;
  QString caption_;
  bool auto_size_ = false;
  std::int32_t shown_state_ = 0;
  bool pointer_inside_ = false;
  bool left_down_ = false;
  std::int16_t last_button_ = 0;

  std::int16_t draw_mode_ = 13;
  std::int32_t back_style_ = 1;
  OleColor fore_color_{0x80000012};
  OleColor back_color_{0x00FFFFFF};
  OleColor mask_color_{0x00FD00FF};
  QImage image_;
  bool shown_once_ = false;
  bool click_armed_ = false;  // a press (not a double click) awaits its release
  bool reading_ = false;
};

}  // namespace heartpage
