#pragma once

// The protocol's time form, "YYYY-MM-DD HH:MM:SS" in UTC, and the sender's
// local "YYYY-MM-DD HH:MM", read and written here alone on the desktop side.
#include <QDateTime>

#include <string>
#include <string_view>

namespace heartpage {

// Invalid when `utc` is no such time.
QDateTime TimeOfUtc(std::string_view utc);
std::string UtcOf(const QDateTime& time);
// Invalid when `local`, blanks around it aside, is no such time; one the
// local clock skips (the hour a summer time begins) comes moved to one that
// exists.
QDateTime TimeOfLocalMinute(std::string_view local);

}  // namespace heartpage
