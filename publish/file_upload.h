#pragma once

#include <string>
#include <string_view>

#include "net/media_upload.h"

// A file of the sender's own on its way to the publishing server, for the
// editors' file pickers: they choose and prepare the file, this knows where
// it goes. Blocks: called off the windows' thread.
namespace heartpage {

// Sends `bytes` (a picture made light) or, when `bytes` is empty, the file at
// `path`, under this machine's identifier; `progress` can cancel it.
MediaUploadResult SendOwnFile(const std::string& path, std::string_view bytes,
                              std::string_view machine_id, const MediaProgress& progress);

}  // namespace heartpage
