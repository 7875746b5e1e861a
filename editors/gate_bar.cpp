#include "editors/gate_bar.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

#include "controls/chinese_font.h"
#include "controls/twips.h"
#include "protocol/page_settings.h"
#include "publish/page_gate.h"
#include "text/qstring.h"

namespace heartpage {
namespace {

// A date box takes typed digits as any date box does: the part the focus
// or a click lands on is selected, so that digits replace it and go on to
// the next part, instead of being refused at the end of a full one.
class SelectsItsSection : public QObject {
 public:
  explicit SelectsItsSection(QDateTimeEdit* box) : QObject(box), box_(box) {
    box->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (watched == box_ && (type == QEvent::FocusIn || type == QEvent::MouseButtonRelease)) {
      // After Qt has placed the cursor for the click or the focus.
      QMetaObject::invokeMethod(
          box_, [box = box_] { box->setSelectedSection(box->currentSection()); },
          Qt::QueuedConnection);
    }
    return false;
  }

 private:
  QDateTimeEdit* box_;
};

}  // namespace

QString ZoneText(const QDateTime& local) {
  const int minutes = local.offsetFromUtc() / 60;
  const int whole = minutes < 0 ? -minutes : minutes;
  return QStringLiteral("本机时间 UTC%1%2:%3")
      .arg(minutes < 0 ? QLatin1Char('-') : QLatin1Char('+'))
      .arg(whole / 60, 2, 10, QLatin1Char('0'))
      .arg(whole % 60, 2, 10, QLatin1Char('0'));
}

GateBar AddGateBar(QWidget* parent, int top, int width) {
  auto* bar = new QWidget(parent);
  bar->setObjectName(QStringLiteral("GateBar"));
  bar->setGeometry(0, top, width, Px(kGateBarHeight));
  auto* row = new QHBoxLayout(bar);
  row->setContentsMargins(Px(240), 0, Px(240), Px(60));
  const QFont caption_font = ChineseFont(ChineseFace::kHeiTi, 10.5);
  const auto caption = [&](std::string_view text, QWidget* buddy) {
    auto* label = new QLabel(Q(text) + QStringLiteral("："), bar);
    label->setFont(caption_font);
    label->setBuddy(buddy);
    return label;
  };

  GateBar gate{};
  gate.opens_set = new QCheckBox(Q(gate::kOpensCaption) + QStringLiteral("："), bar);
  gate.opens_set->setObjectName(QStringLiteral("OpensSet"));
  gate.opens_set->setFont(caption_font);
  gate.opens_set->setToolTip(
      QStringLiteral("勾选后，TA要到这个时刻才能打开网页；不勾选则立即可以打开"));
  gate.opens = new QDateTimeEdit(bar);
  gate.opens->setObjectName(QString::fromLatin1(gate::kOpensField.data()));
  gate.opens->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
  gate.opens->setCalendarPopup(true);
  gate.opens->setDateTime(QDateTime(QDate::currentDate().addDays(1), QTime(20, 0)));
  gate.opens->setEnabled(false);
  new SelectsItsSection(gate.opens);
  gate.zone = new QLabel(ZoneText(gate.opens->dateTime()), bar);
  gate.zone->setObjectName(QStringLiteral("OpensZone"));
  QPalette grey = gate.zone->palette();
  grey.setColor(QPalette::WindowText, QColor(0x60, 0x60, 0x60));
  gate.zone->setPalette(grey);
  QObject::connect(gate.opens_set, &QCheckBox::toggled, gate.opens, &QWidget::setEnabled);
  // Summer time moves the offset with the day chosen.
  QObject::connect(gate.opens, &QDateTimeEdit::dateTimeChanged, gate.zone,
                   [zone = gate.zone](const QDateTime& local) { zone->setText(ZoneText(local)); });

  gate.code = new QLineEdit(bar);
  gate.code->setObjectName(QString::fromLatin1(gate::kCodeField.data()));
  gate.code->setMaxLength(static_cast<int>(wire::kCodeMaxChars));
  gate.code->setPlaceholderText(QStringLiteral("可不填"));
  gate.code->setToolTip(QStringLiteral("填写后，TA要输入这个口令才能打开网页；口令不会显示给TA"));
  // Said as the code is typed, not only at upload, when it is still easy to
  // think of another.
  gate.easy_code = new QLabel(QStringLiteral("易被猜中"), bar);
  gate.easy_code->setObjectName(QStringLiteral("EasyCode"));
  gate.easy_code->setToolTip(Q(gate::kEasyCodeWarning));
  QPalette warning = gate.easy_code->palette();
  warning.setColor(QPalette::WindowText, QColor(0xC9, 0x2A, 0x2A));
  gate.easy_code->setPalette(warning);
  gate.easy_code->setFont(caption_font);
  gate.easy_code->setVisible(false);
  QObject::connect(gate.code, &QLineEdit::textChanged, gate.easy_code,
                   [label = gate.easy_code](const QString& code) {
                     label->setVisible(wire::IsEasyCode(code.toStdString()));
                   });
  gate.hint = new QLineEdit(bar);
  gate.hint->setObjectName(QString::fromLatin1(gate::kHintField.data()));
  gate.hint->setMaxLength(static_cast<int>(wire::kHintMaxChars));
  gate.hint->setPlaceholderText(Q(gate::kHintExample));
  gate.hint->setToolTip(QStringLiteral("TA输入口令时看到的提示"));

  row->addWidget(gate.opens_set);
  row->addWidget(gate.opens);
  row->addWidget(gate.zone);
  row->addSpacing(Px(240));
  row->addWidget(caption(gate::kCodeCaption, gate.code));
  row->addWidget(gate.code, 1);
  row->addWidget(gate.easy_code);
  row->addSpacing(Px(120));
  row->addWidget(caption(gate::kHintCaption, gate.hint));
  row->addWidget(gate.hint, 2);
  return gate;
}

}  // namespace heartpage
