#pragma once

#include "app/cli/arguments.h"

namespace heartpage::cli {

// Checks the page's addresses and dates as the editors do and prints what
// looks wrong on standard error. False when that is to end the command
// (`--strict` and at least one finding).
bool ReportFindings(const PageRequest& request);

}  // namespace heartpage::cli
