#pragma once

#include <QLabel>
#include <QValidator>
#include <string_view>

#include "controls/twips.h"
#include "text/qstring.h"

class QPlainTextEdit;
class QPushButton;

// What the upload dialog's files share.
namespace heartpage::upload_dialog {

// The designed client area; the QR code, once there, goes below it.
inline constexpr int kDesignedWidth = Px(7845);
inline constexpr int kDesignedHeight = Px(4725);
// Under the address and its buttons: what came back from the page, taller
// when earlier versions have lines of their own.
inline const QRect kReceiptPlace = PxRect(360, 4260, 7125, 420);
// The address's QR code, about this many pixels square with its quiet zone:
// large enough for a phone held at arm's length to read off the screen.
inline constexpr int kQrPixels = 176;

// A button that Enter presses while it has the focus.
QPushButton* AddButton(QWidget* parent, const char* name, const QString& text,
                       const QRect& geometry);

QLabel* AddLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry,
                 const QFont& font);

// A centred label whose text is wider than its place grows on both sides,
// within the window, rather than losing its ends.
void WidenToText(QLabel* label, int window_width);

// Text3: read-only, grey, wrapping anywhere.
QPlainTextEdit* MakeAddressBox(QWidget* parent, const QFont& font);

// The name rule as the box's filter: whatever arrives (typed, pasted,
// dropped) keeps its letters and digits, capitals made small, and loses the
// rest, rather than being refused whole.
QString FilteredName(const QString& text);
class NameValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int& position) const override;
};

}  // namespace heartpage::upload_dialog
