#include "publish/upload_dialog_parts.h"

#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <algorithm>

#include "protocol/page_name.h"

namespace heartpage {
namespace upload_dialog {

QPushButton* AddButton(QWidget* parent, const char* name, const QString& text,
                       const QRect& geometry) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setAutoDefault(true);  // Enter presses the focused button
  button->setGeometry(geometry);
  return button;
}

QLabel* AddLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry,
                 const QFont& font) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setFont(font);
  label->setAlignment(Qt::AlignCenter);
  label->setGeometry(geometry);
  return label;
}

void WidenToText(QLabel* label, int window_width) {
  const QSize wanted = label->sizeHint();
  QRect geometry = label->geometry();
  if (wanted.height() > geometry.height()) geometry.setHeight(wanted.height());
  if (wanted.width() > geometry.width()) {
    const int centre = geometry.center().x();
    const int width = std::min(wanted.width(), window_width);
    geometry.setLeft(std::clamp(centre - width / 2, 0, window_width - width));
    geometry.setWidth(width);
  }
  label->setGeometry(geometry);
}

QPlainTextEdit* MakeAddressBox(QWidget* parent, const QFont& font) {
  auto* address = new QPlainTextEdit(parent);
  address->setObjectName(QStringLiteral("Text3"));
  address->setGeometry(PxRect(3000, 3000, 4215, 495));
  address->setFont(font);
  // Shown for copying, not for editing: what is copied is what was published.
  address->setReadOnly(true);
  address->setWordWrapMode(QTextOption::WrapAnywhere);
  address->document()->setDocumentMargin(1);
  address->setFocusPolicy(Qt::ClickFocus);
  address->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  address->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QPalette palette = address->palette();
  palette.setColor(QPalette::Base, QColor(0xE0, 0xE0, 0xE0));
  address->setPalette(palette);
  return address;
}

QString FilteredName(const QString& text) {
  QString name;
  for (const QChar c : text) {
    const char16_t code = c.unicode();
    if ((code >= '0' && code <= '9') || (code >= 'a' && code <= 'z')) name += c;
    if (code >= 'A' && code <= 'Z') name += QChar(code + ('a' - 'A'));
  }
  return name;
}

QValidator::State NameValidator::validate(QString& input, int& position) const {
  const QString before = input.left(position);
  input = FilteredName(input).left(static_cast<int>(kMaxPageNameLength));
  position =
      std::min(static_cast<int>(FilteredName(before).size()), static_cast<int>(input.size()));
  return Acceptable;
}

}  // namespace upload_dialog

}  // namespace heartpage
