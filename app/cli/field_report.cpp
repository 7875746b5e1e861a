#include "app/cli/field_report.h"

#include <iostream>

#include "protocol/page_settings.h"
#include "publish/field_checks.h"

namespace heartpage::cli {

bool ReportFindings(const PageRequest& request) {
  // A warning only: the server's pace holds such a code for weeks, and the
  // sender may know her reader would not think of another.
  if (!request.settings.code.empty() && wire::IsEasyCode(request.settings.code))
    std::cerr << "heartpage-cli: warning: --code is easy to guess (4 digits or fewer, or a "
                 "date); a word only the two of you know, such as the place of your first date, "
                 "is safer\n";
  const std::vector<Finding> findings = CheckFields(GetStyle(request.style), request.fields);
  if (findings.empty()) return true;
  std::cerr << "heartpage-cli: " << kFindingsHeading << '\n';
  for (const Finding& finding : findings) std::cerr << "  " << FindingLine(finding) << '\n';
  if (request.strict) std::cerr << "heartpage-cli: stopped (--strict)\n";
  return !request.strict;
}

}  // namespace heartpage::cli
