#pragma once

// The protocol's time form, "YYYY-MM-DD HH:MM:SS" in UTC, read and written
// here alone on the desktop side.
#include <QDateTime>

#include <string>
#include <string_view>

namespace heartpage {

// Invalid when `utc` is no such time.
QDateTime TimeOfUtc(std::string_view utc);
std::string UtcOf(const QDateTime& time);

}  // namespace heartpage
