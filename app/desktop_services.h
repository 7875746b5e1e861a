#pragma once

#include "publish/client_services.h"

namespace heartpage {

// The services of the program as the user runs it: the configured publishing
// server, this machine's disk serial number, the desktop's opener, message
// boxes, the file dialog, a timer and the user's own folders. Made once, by
// main(); needs the application object.
ClientServices DesktopServices();

}  // namespace heartpage
