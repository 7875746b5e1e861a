#pragma once

#include <string>

#include "pages/builders.h"
#include "protocol/page_settings.h"

// The checks the desktop program makes before an upload, made by the site
// for the maker in the browser with the program's own code and words: dates
// that do not exist, colours that are none, sample text left in, a code
// without a hint (or the reverse), a code easy to guess. Addresses are not
// tried: the site would fetch whatever a stranger names from inside its own
// network. Whether the moment has passed is the phone's to say, on its own
// clock and in its own time.
namespace heartpage::server {

// {"findings":[{"caption":"…","reason":"…","blocks":false}, …]} in the
// order the program lists them: the style's rows, then the code.
std::string CheckFindingsJson(int style, const FieldSource& fields,
                              const wire::PageSettings& settings);

}  // namespace heartpage::server
