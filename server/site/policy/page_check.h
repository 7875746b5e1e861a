#pragma once

#include <string>
#include <string_view>
#include <vector>

// Whether a page sent for publishing or preview is one the program builds:
// one of the eight styles, bound to this site's address, with field values in
// its slots and nothing else. A page passes only when building its style
// again from the values read out of it gives the same bytes, so that what the
// site serves is never more than the fields a sender typed.
namespace heartpage::server {

struct PageCheck {
  bool genuine = false;
  // Why it is not: one line of English, for the log and the 422 answer.
  std::string refusal;
  int style = 0;  // 1 ... 8 when genuine
  // Every field's value in the style's substitution order, decoded from
  // where it stands: text as typed (a markup box as the text it shows),
  // addresses as they are followed. Fields the page does not show are empty.
  std::vector<std::string> values;
  // The question the page asks its reader, and its two answers, as typed;
  // empty when it asks none.
  std::string question = {};
  std::vector<std::string> answers = {};
};

// `html` is the page as UTF-8 text; `public_host` is "host:port" or
// "https://host:port", as the site tells clients in its settings.
PageCheck CheckPage(std::string_view html, std::string_view public_host);

// The same for a page as a store or a preview sends it, in GBK bytes; bytes
// that are no GBK text are no page.
PageCheck CheckSentPage(std::string_view bytes, std::string_view public_host);

}  // namespace heartpage::server
