#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "pages/placement.h"

// How a value the builders wrote into a page reads back (page_check.cpp):
// how far it can reach from where it starts, and what was typed to give it.
namespace heartpage::server {

struct SlotKind {
  Placement place;
  bool markup = false;  // a markup box's own text, where its tags stand
};

// The furthest end of a value written at `start` of `page`, judged by the
// characters its writing can give there; a bound for the search, not proof.
std::size_t SlotExtent(std::string_view page, std::size_t start, const SlotKind& kind);

// The value whose writing could be `written`, or nothing when no value is
// written so. Whether it is, the caller sees by writing it again.
std::optional<std::string> ReadSlot(std::string_view written, const SlotKind& kind);

// The text a markup box shows: tags left out, line breaks as line ends and
// character references as the characters browsers show for them.
std::string ShownText(std::string_view html);

}  // namespace heartpage::server
