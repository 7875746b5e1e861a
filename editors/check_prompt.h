#pragma once

#include <vector>

#include "publish/field_checks.h"

class QWidget;

namespace heartpage {

// Lists the findings in one message box, FindingsHeading() and a line per
// field (the last of fifteen lines saying how many more there are), and asks
// whether to go on: true for "仍然继续", false for "返回修改" (also Escape or
// closing the box). Where a finding blocks, only "返回修改" is offered.
bool ConfirmFindings(QWidget* parent, const std::vector<Finding>& findings);

}  // namespace heartpage
