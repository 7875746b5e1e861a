#include <iostream>

#include "app/cli/arguments.h"
#include "app/cli/commands.h"
#include "pages/styles.h"

namespace heartpage::cli {

// One line per field, in the order the builder fills them: the name that
// --set takes, what the field holds, and its caption on the editor window.
int Fields(const Arguments& args) {
  const PageRequest request = ParsePageRequest(args);
  for (const FieldRow& row : GetStyle(request.style).rows)
    std::cout << row.Name() << '\t' << FieldKindName(row.kind) << '\t' << row.caption << '\n';
  return std::cout.flush() ? 0 : 1;
}

}  // namespace heartpage::cli
