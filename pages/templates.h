#pragma once

#include <string_view>

namespace heartpage {

// The template of style 1 ... 8 with the publishing host bound; throws
// std::out_of_range for any other style. Bound once, on first use, and fixed
// for the program's life.
std::string_view StyleTemplate(int style);

// The floating-picture snippet that styles 2 and 3 put in front of their
// template when the check box is ticked.
std::string_view FloatingPictureTemplate();

// The question part (pages/question.h) as written, for every style alike
// until bound to one. It names no host.
std::string_view QuestionPartTemplate();

// The link card's lines (pages/link_card.h) as written, for every style
// alike. They name no host.
std::string_view LinkCardTemplate();

// The template of style 1 ... 8, or the floating-picture snippet for 0, as
// written: the publishing host still its token, for binding to a host that
// is not the program's own (the server's). Throws std::out_of_range for any
// other number.
std::string_view UnboundTemplate(int style);

}  // namespace heartpage
