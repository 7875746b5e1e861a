#include "editors/check_prompt.h"

#include <QMessageBox>
#include <QPushButton>
#include <algorithm>

namespace heartpage {

namespace {

// A box taller than the screen hides its own buttons; the story of style 7
// alone has dozens of sample captions.
constexpr std::size_t kMaxLines = 15;

}  // namespace

bool ConfirmFindings(QWidget* parent, const std::vector<Finding>& findings) {
  const std::string_view heading = FindingsHeading(findings);
  QString text = QString::fromUtf8(heading.data(), static_cast<qsizetype>(heading.size()));
  const std::size_t shown = findings.size() > kMaxLines ? kMaxLines - 1 : findings.size();
  for (std::size_t i = 0; i < shown; ++i)
    text += QLatin1Char('\n') + QString::fromStdString(FindingLine(findings[i]));
  if (shown < findings.size())
    text += QStringLiteral("\n……另有 %1 项").arg(findings.size() - shown);
  QMessageBox box(QMessageBox::Warning, QStringLiteral("提示"), text, QMessageBox::NoButton,
                  parent);
  box.setObjectName(QStringLiteral("FieldFindings"));
  // A finding the server would refuse the page for leaves nothing to go on
  // with.
  const bool blocked = std::any_of(findings.begin(), findings.end(),
                                   [](const Finding& finding) { return finding.blocks; });
  QPushButton* go_on =
      blocked ? nullptr : box.addButton(QStringLiteral("仍然继续"), QMessageBox::AcceptRole);
  QPushButton* back = box.addButton(QStringLiteral("返回修改"), QMessageBox::RejectRole);
  // Going back to fix a field is the safe answer to a stray Enter.
  box.setDefaultButton(back);
  box.setEscapeButton(back);
  box.exec();
  return go_on != nullptr && box.clickedButton() == go_on;
}

}  // namespace heartpage
