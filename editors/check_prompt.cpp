#include "editors/check_prompt.h"

#include <QMessageBox>
#include <QPushButton>

namespace heartpage {

bool ConfirmFindings(QWidget* parent, const std::vector<Finding>& findings) {
  QString text =
      QString::fromUtf8(kFindingsHeading.data(), static_cast<qsizetype>(kFindingsHeading.size()));
  for (const Finding& finding : findings)
    text += QLatin1Char('\n') + QString::fromStdString(FindingLine(finding));
  QMessageBox box(QMessageBox::Warning, QStringLiteral("提示"), text, QMessageBox::NoButton,
                  parent);
  box.setObjectName(QStringLiteral("FieldFindings"));
  QPushButton* go_on = box.addButton(QStringLiteral("仍然继续"), QMessageBox::AcceptRole);
  QPushButton* back = box.addButton(QStringLiteral("返回修改"), QMessageBox::RejectRole);
  // Going back to fix a field is the safe answer to a stray Enter.
  box.setDefaultButton(back);
  box.setEscapeButton(back);
  box.exec();
  return box.clickedButton() == go_on;
}

}  // namespace heartpage
