#pragma once

#include <string>
#include <string_view>
#include <vector>

// The eight page styles as data: which field fills which placeholder, in the
// order the builder substitutes them. The editor windows are laid out from the
// same tables, so nothing here knows how a page is built.
namespace heartpage {

inline constexpr int kStyleCount = 8;

// What a field holds. The editors offer a picker that writes the right form,
// the checks before preview and upload know what an address must lead to, and
// the builders write colours and addresses only in a form that can be meant
// and keep the tags of markup.
enum class FieldKind {
  kText,
  kMarkup,   // HTML of the sender's own: a few formatting tags, see text/markup.h
  kPicture,  // address of a picture
  kMusic,    // address of an audio file
  kVideo,    // address of a video
  kYear,     // date part: the year
  kMonth0,   // date part: the month counted from 0, as the pages' scripts count it
  kDay,      // date part: the day of the month
  kColour,   // CSS colour, "#RGB" or "#RRGGBB" (the "#" may be left out)
  kAddress,  // any other web address, e.g. where a click on a picture leads
};

// "text", "markup", "picture", "music", "video", "year", "month0", "day",
// "colour" or "address": the kind as the command line lists it.
std::string_view FieldKindName(FieldKind kind);

struct FieldRow {
  std::string control;       // control array of the editor window, e.g. "Text1"
  int index = 0;             // index in that array
  std::string caption;       // label beside the box on the editor window
  std::string default_text;  // design-time text; may name the publishing host by its token
  std::string key;           // placeholder replaced by the field's value
  int times = 0;             // occurrences in the start text outside earlier keys
                             // (with the check box ticked where the style has one)
  FieldKind kind = FieldKind::kText;
  // Shown as a heading over the message ("* Our Story", the first card
  // greeting her by name, a story's cover with its two names), not a line
  // of it.
  bool heading = false;

  // "Text1(3)"
  std::string Name() const;
  // The design-time text with the configured publishing host in place.
  std::string DefaultValue() const;
};

struct Style {
  int number = 0;
  std::string window;          // "FG1" ... "FG8"
  std::string caption;         // the editor window's caption
  bool has_check = false;      // Check1 puts the floating picture in front
  std::vector<FieldRow> rows;  // in substitution order
};

// Style 1 ... 8; throws std::out_of_range for any other number.
const Style& GetStyle(int number);

// The style a built page is of, 1 … 8, told by the first folder of the
// styles' assets it names ("/biaobai/fg3/", any case); 0 when none.
int StyleOfPage(std::string_view page);

// The name the gallery's tile gives style 1 ... 8, the name the user chose
// the style by; throws std::out_of_range for any other number.
std::string_view GalleryName(int number);

// The row of `style` for the field named like "Text1(3)", or nullptr.
const FieldRow* FindField(const Style& style, std::string_view name);

}  // namespace heartpage
