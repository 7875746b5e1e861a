#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

// Where everything stands on the eight editor windows. The fields themselves
// (captions, defaults) come from the style tables; this adds the geometry,
// the frames, the fixed texts and the buttons. All measures are in twips
// (15 to a pixel), as the windows were designed. Plain data beside the style
// tables, so that the server's form in the browser reads its fields in the
// windows' groups and order from here too.
namespace heartpage {

struct Rect {
  int left = 0;
  int top = 0;
  int width = 0;   // 0: sized to its text
  int height = 0;  // 0: sized to its text
};

enum class Face { kDefault, kHeiTi, kSongTi };

// Which label array captions a box: Label1 in 黑体 (12 pt, 10.5 pt on FG7 and
// FG8), Label2 in the window's default font, or none.
enum class CaptionKind { kLabel1, kLabel2, kNone };

struct FramePlacement {
  std::string caption;
  Rect rect;        // in its parent's coordinates
  int parent = -1;  // index of the enclosing frame; -1 for the window
};

struct BoxPlacement {
  int index = 0;  // in the style's control array
  Rect rect;      // height 0 means the single-line height
  int frame = -1;
  bool multiline = false;  // with both scroll bars; keeps CR LF
  bool red = false;
  Face face = Face::kDefault;
  double points = 0;  // 0: the window's default size
  CaptionKind caption = CaptionKind::kLabel1;
  bool caption_above = false;  // the caption stands above the box, not left of it
};

// A label that is not simply the caption left of one box: hints, headings,
// units, FG7's numbered captions, FG8's block captions.
struct TextPlacement {
  std::string array;  // "Label1", "Label2", "Label3"; indices count up per array
  std::string text;
  Rect rect;
  int frame = -1;
  bool red = false;
  Face face = Face::kDefault;
  double points = 0;
  bool wrap = false;
  bool centred = false;
};

// A button beside fields that fills them from a chooser: the calendar fills
// the style's date parts (year, month, day), the colour
// chooser the colour box `index`. It follows its box in the Tab order (the
// calendar follows the day).
enum class PickerKind { kCalendar, kColour };

struct PickerPlacement {
  PickerKind kind = PickerKind::kCalendar;
  int index = 0;  // the box it fills; for the calendar the day box
  Rect rect;
  int frame = -1;
};

struct CheckPlacement {
  Rect rect;
  std::string text;
};

struct WindowLayout {
  int style = 0;
  int client_width = 0;
  int client_height = 0;
  std::vector<FramePlacement> frames;
  std::vector<BoxPlacement> boxes;
  std::vector<TextPlacement> texts;
  std::optional<CheckPlacement> check;
  std::vector<PickerPlacement> pickers;
  // The order Tab visits the boxes in, by index; empty: the order of
  // `boxes`. The check box comes before the first box of the window below it.
  std::vector<int> tab_order;
  // Boxes, by index, that hold one short name between them: two characters
  // at most in all (FG5's beloved's name, which the page draws in a heart).
  std::vector<int> two_characters;
  Rect command1;
  Rect command2;
  bool icon = true;     // FG8 has none
  bool tinted = false;  // FG5 and FG6: frames on a light blue ground
  double label1_points = 12;
};

inline constexpr int kSingleLineHeight = 270;

// The layout of editor 1 ... 8; throws std::out_of_range for any other.
const WindowLayout& GetLayout(int style);

// Where the two buttons beside the designed pair stand ("手机预览" first, then
// "扫码预览").
std::pair<Rect, Rect> PhoneButtons(const WindowLayout& layout);

}  // namespace heartpage
