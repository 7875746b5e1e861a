#pragma once

#include <string>
#include <string_view>

#include "pages/builders.h"
#include "protocol/page_settings.h"
#include "server/storage/storage.h"

// The checks the desktop program makes before an upload, made by the site
// for the maker in the browser with the program's own code and words: dates
// that do not exist, colours that are none, sample text left in, a code
// without a hint (or the reverse), a code easy to guess, and the site's own
// files (her photos and music) that it does not have or that are of another
// kind than their field's. Other addresses are not tried: the site would
// fetch whatever a stranger names from inside its own network. Whether the
// moment has passed is the phone's to say, on its own clock and in its own
// time.
namespace heartpage::server {

// {"findings":[{"caption":"…","reason":"…","blocks":false}, …]} in the
// order the program lists them: the style's rows, then the code.
// Runs on a storage thread: it looks the site's own files up.
std::string CheckFindingsJson(int style, const FieldSource& fields,
                              const wire::PageSettings& settings, MediaStore& media,
                              std::string_view public_host);

}  // namespace heartpage::server
