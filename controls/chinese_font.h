#pragma once

#include <QFont>

namespace heartpage {

// The two faces the windows are designed with. Each asks for the Windows
// face by name first and falls back to a CJK face that Debian ships, so that
// Chinese text never shows as empty boxes.
enum class ChineseFace { kHeiTi, kSongTi };

QFont ChineseFont(ChineseFace face, double point_size);

}  // namespace heartpage
