#include "editors/pickers.h"

#include <QCalendarWidget>
#include <QColor>
#include <QColorDialog>
#include <QDate>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QToolButton>
#include <QVBoxLayout>

namespace heartpage {
namespace {

constexpr int kIconSize = 14;

QIcon CalendarIcon() {
  QPixmap pixmap(kIconSize, kIconSize);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setPen(QColor(0x60, 0x60, 0x60));
  painter.setBrush(Qt::white);
  painter.drawRect(0, 1, kIconSize - 1, kIconSize - 2);
  painter.fillRect(1, 2, kIconSize - 2, 3, QColor(0xD0, 0x30, 0x30));
  for (int row = 0; row < 3; ++row)
    for (int column = 0; column < 4; ++column)
      painter.fillRect(2 + column * 3, 6 + row * 2, 2, 1, QColor(0x50, 0x50, 0x50));
  return QIcon(pixmap);
}

QIcon SwatchIcon(const QString& text) {
  QPixmap pixmap(kIconSize, kIconSize);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setPen(QColor(0x60, 0x60, 0x60));
  const QColor colour(text.trimmed());
  painter.setBrush(colour.isValid() ? colour : QColor(Qt::white));
  painter.drawRect(0, 0, kIconSize - 1, kIconSize - 1);
  if (!colour.isValid()) painter.drawLine(1, kIconSize - 2, kIconSize - 2, 1);
  return QIcon(pixmap);
}

QToolButton* PickerButton(QWidget* parent, const QString& name, const QString& tip) {
  auto* button = new QToolButton(parent);
  button->setObjectName(name);
  button->setToolTip(tip);
  button->setAccessibleName(tip);
  button->setIconSize(QSize(kIconSize, kIconSize));
  button->setAutoRaise(false);
  return button;
}

// The date the boxes hold, if they hold a real one.
QDate DateIn(const QLineEdit* year, const QLineEdit* month, const QLineEdit* day) {
  bool ok[3] = {};
  const int y = year->text().trimmed().toInt(&ok[0]);
  const int m = month->text().trimmed().toInt(&ok[1]);
  const int d = day->text().trimmed().toInt(&ok[2]);
  if (!ok[0] || !ok[1] || !ok[2]) return {};
  return QDate(y, m, d);
}

}  // namespace

QToolButton* MakeCalendarButton(QWidget* parent, QLineEdit* year, QLineEdit* month,
                                QLineEdit* day) {
  QToolButton* button =
      PickerButton(parent, QStringLiteral("DatePicker"), QStringLiteral("选择日期"));
  button->setIcon(CalendarIcon());
  QObject::connect(button, &QToolButton::clicked, button, [button, year, month, day] {
    // A small popup under the button; a click elsewhere closes it unchanged.
    auto* popup = new QWidget(button, Qt::Popup);
    popup->setObjectName(QStringLiteral("CalendarPopup"));
    popup->setAttribute(Qt::WA_DeleteOnClose);
    auto* calendar = new QCalendarWidget(popup);
    calendar->setObjectName(QStringLiteral("Calendar"));
    calendar->setLocale(QLocale(QLocale::Chinese, QLocale::China));
    calendar->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    calendar->setGridVisible(true);
    const QDate held = DateIn(year, month, day);
    calendar->setSelectedDate(held.isValid() ? held : QDate::currentDate());
    auto* fill = new QVBoxLayout(popup);
    fill->setContentsMargins(1, 1, 1, 1);
    fill->addWidget(calendar);
    QObject::connect(calendar, &QCalendarWidget::clicked, popup,
                     [popup, year, month, day](const QDate& date) {
                       year->setText(QString::number(date.year()));
                       month->setText(QString::number(date.month()));
                       day->setText(QString::number(date.day()));
                       popup->close();
                     });
    QObject::connect(calendar, &QCalendarWidget::activated, calendar, &QCalendarWidget::clicked);
    popup->adjustSize();
    popup->move(button->mapToGlobal(QPoint(button->width() - popup->width(), button->height())));
    popup->show();
    calendar->setFocus();
  });
  return button;
}

QToolButton* MakeColourButton(QWidget* parent, QLineEdit* box, int index) {
  QToolButton* button = PickerButton(parent, QStringLiteral("ColourPicker(%1)").arg(index),
                                     QStringLiteral("选择颜色"));
  const auto show_colour = [button](const QString& text) { button->setIcon(SwatchIcon(text)); };
  show_colour(box->text());
  QObject::connect(box, &QLineEdit::textChanged, button, show_colour);
  QObject::connect(button, &QToolButton::clicked, button, [button, box] {
    QColor current(box->text().trimmed());
    auto* chooser = new QColorDialog(current.isValid() ? current : QColor(Qt::white), button);
    chooser->setObjectName(QStringLiteral("ColourChooser"));
    chooser->setWindowTitle(QStringLiteral("选择颜色"));
    chooser->setOption(QColorDialog::DontUseNativeDialog);
    chooser->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(chooser, &QColorDialog::colorSelected, box, [box](const QColor& colour) {
      box->setText(ColourText(colour, box->text()));
    });
    chooser->open();
  });
  return button;
}

QString ColourText(const QColor& colour, const QString& current) {
  const QString trimmed = current.trimmed();
  const bool short_form = trimmed.size() == 4 && trimmed.startsWith(QLatin1Char('#'));
  const int channels[] = {colour.red(), colour.green(), colour.blue()};
  bool has_short = true;
  for (const int channel : channels) has_short = has_short && channel % 17 == 0;
  if (short_form && has_short) {
    QString text = QStringLiteral("#");
    for (const int channel : channels) text += QString::number(channel / 17, 16).toUpper();
    return text;
  }
  return colour.name(QColor::HexRgb).toUpper();
}

}  // namespace heartpage
