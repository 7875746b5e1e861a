#pragma once

// The Qt side's one step from the UTF-8 held inside to a QString. Header
// only: the server, which never links Qt, never includes it.
#include <QString>

#include <string_view>

namespace heartpage {

inline QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace heartpage
