#include "app/cli/field_report.h"

#include <iostream>

#include "publish/field_checks.h"

namespace heartpage::cli {

bool ReportFindings(const PageRequest& request) {
  const std::vector<Finding> findings = CheckFields(GetStyle(request.style), request.fields);
  if (findings.empty()) return true;
  std::cerr << "heartpage-cli: " << kFindingsHeading << '\n';
  for (const Finding& finding : findings) std::cerr << "  " << FindingLine(finding) << '\n';
  if (request.strict) std::cerr << "heartpage-cli: stopped (--strict)\n";
  return !request.strict;
}

}  // namespace heartpage::cli
