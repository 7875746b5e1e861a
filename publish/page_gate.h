#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/page_settings.h"
#include "publish/field_checks.h"

// What a visitor meets before the page: the moment it opens and the code it
// asks for with its hint. The sender gives them in local time, beside the
// page's fields, in the editors, the drafts and on the command line; the
// server is sent them in UTC with the page's store. The page itself is the
// same either way.
namespace heartpage {

namespace gate {
// The names the editors, the drafts and the command line give the three
// values. Opens holds a local "YYYY-MM-DD HH:MM", empty for at once.
inline constexpr std::string_view kOpensField = "Opens";
inline constexpr std::string_view kCodeField = "Code";
inline constexpr std::string_view kHintField = "Hint";
inline constexpr std::array<std::string_view, 3> kFields{kOpensField, kCodeField, kHintField};

// The captions, as the editors show them with a colon and the checks name
// them without.
inline constexpr std::string_view kOpensCaption = "定时开启";
inline constexpr std::string_view kCodeCaption = "开启口令";
inline constexpr std::string_view kHintCaption = "口令提示";
inline constexpr std::string_view kHintExample = "我们第一次见面的城市？";
// What the sender is told of a code that is easy to guess (wire::IsEasyCode):
// a warning, and what to choose instead.
inline constexpr std::string_view kEasyCodeWarning =
    "4 位以内的数字或日期很容易被猜中，换成只有你们两人知道的一个词会更安全，比如第一次约会的地方";
}  // namespace gate

// The UTC "YYYY-MM-DD HH:MM:SS" of a local "YYYY-MM-DD HH:MM"; nothing when
// the text is no such time or the local clock skips it (the hour a summer
// time begins).
std::optional<std::string> UtcOfLocalMinute(std::string_view local);
// The local "YYYY-MM-DD HH:MM" of a UTC "YYYY-MM-DD HH:MM:SS"; empty when it
// is no such time.
std::string LocalMinuteOfUtc(std::string_view utc);
// Now in UTC, in that form, which orders as the time does.
std::string NowUtc();

// What the fields hold, the moment in UTC. A moment that is no local time
// is left out here; GateFindings names it.
wire::PageSettings GateOf(const FieldSource& fields);

// What is wrong with the fields' settings at `now`, in the checks' words: a
// moment already past (the page would open at once, which the sender may
// accept), a code without a hint or a hint without a code, what the server
// would refuse, or a code easy to guess (which the sender may also accept);
// all but the first and the last block the upload.
std::vector<Finding> GateFindings(const FieldSource& fields,
                                  std::chrono::system_clock::time_point now);

// "2月14日 20:00" in local time, the year named too when it is not this one's;
// the text as it is when it is no UTC time.
std::string OpeningText(std::string_view utc);

// What the visitor meets, a line each: "将于 2月14日 20:00 开启" (or "已于 …
// 开启" once the moment has passed), "需要口令才能打开"; none for a page that
// opens at once to anyone.
std::vector<std::string> GateLines(std::string_view opens_utc, bool has_code,
                                   std::chrono::system_clock::time_point now);

}  // namespace heartpage
