#include "pages/layout.h"

#include <algorithm>
#include <array>
#include <stdexcept>

#include "pages/styles.h"

namespace heartpage {
namespace {

constexpr int kLine = kSingleLineHeight;

// A column of boxes `first` ... `last` from `top`, `step` apart.
void Column(WindowLayout& layout, int first, int last, int left, int width, int top, int step,
            int frame = -1, CaptionKind caption = CaptionKind::kLabel1, bool red = false) {
  for (int index = first; index <= last; ++index, top += step) {
    BoxPlacement box{index, {left, top, width, kLine}, frame};
    box.caption = caption;
    box.red = red;
    layout.boxes.push_back(box);
  }
}

BoxPlacement Box(int index, int left, int top, int width, int frame = -1,
                 CaptionKind caption = CaptionKind::kLabel1) {
  BoxPlacement box{index, {left, top, width, kLine}, frame};
  box.caption = caption;
  return box;
}

TextPlacement RedHint(std::string text, Rect rect, int frame = -1) {
  return {"Label3", std::move(text), rect, frame, true, Face::kHeiTi, 10.5};
}

TextPlacement Unit(std::string text, int left, int top, int frame = -1, Face face = Face::kDefault,
                   double points = 0) {
  return {"Label3", std::move(text), {left, top + 30, 0, 0}, frame, false, face, points};
}

CheckPlacement FloatingPictureCheck(int width, int dashes) {
  return {{720, 5520, width, 255},
          "启用图片漂浮" + std::string(static_cast<std::size_t>(dashes), '-')};
}

WindowLayout Window(int style, int client_width, int client_height) {
  WindowLayout layout;
  layout.style = style;
  layout.client_width = client_width;
  layout.client_height = client_height;
  return layout;
}

WindowLayout Layout1() {
  WindowLayout layout = Window(1, 12765, 6720);
  layout.boxes.push_back(Box(0, 1440, 480, 2415));
  layout.boxes.push_back(Box(1, 5400, 480, 1935));
  Column(layout, 2, 8, 2280, 5055, 1200, 720);
  layout.texts.push_back(
      {"Label3", "中间文字", {8640, 420, 3855, 660}, -1, true, Face::kHeiTi, 26.25, false, true});
  Column(layout, 9, 15, 8640, 3855, 1200, 720, -1, CaptionKind::kLabel1, true);
  layout.command1 = {2280, 6120, 2535, 495};
  layout.command2 = {7320, 6120, 2535, 495};
  return layout;
}

WindowLayout Layout2() {
  WindowLayout layout = Window(2, 10560, 7500);
  layout.boxes.push_back(Box(0, 1920, 360, 2415));
  layout.boxes.push_back(Box(1, 6960, 360, 2415));
  BoxPlacement letter{2, {3840, 1080, 5655, 2535}};
  letter.multiline = true;
  layout.boxes.push_back(letter);
  // The date line: the heart's text, then year, month and day with their units.
  layout.boxes.push_back(Box(3, 2160, 3720, 3375));
  layout.boxes.push_back(Box(4, 6840, 3720, 615));
  layout.boxes.push_back(Box(9, 7920, 3720, 615));
  layout.boxes.push_back(Box(10, 9000, 3720, 615));
  layout.texts.push_back(Unit("日", 9675, 3720, -1, Face::kHeiTi, 12));
  layout.pickers.push_back({PickerKind::kCalendar, 10, {10005, 3690, 345, 330}});
  layout.boxes.push_back(Box(5, 2880, 4320, 3375));
  layout.boxes.push_back(Box(8, 2640, 4920, 5775));
  layout.check = FloatingPictureCheck(9375, 70);
  Column(layout, 6, 7, 4200, 5175, 6000, 480);
  layout.command1 = {1800, 6960, 2535, 495};
  layout.command2 = {6480, 6960, 2535, 495};
  return layout;
}

WindowLayout Layout3() {
  WindowLayout layout = Window(3, 11865, 7650);
  Column(layout, 0, 6, 960, 4575, 240, 600);
  Column(layout, 7, 9, 7080, 4575, 240, 600);
  layout.boxes.push_back(Box(10, 7800, 2040, 3855));
  layout.frames.push_back({"其他设置", {6360, 2520, 5415, 1695}});
  Column(layout, 11, 13, 1440, 3855, 360, 480, 0, CaptionKind::kLabel2);
  layout.frames.push_back({"下方文字", {240, 4320, 11535, 1095}});
  const std::array<std::array<int, 2>, 6> line = {
      {{1080, 1455}, {3600, 1455}, {5760, 2175}, {8760, 495}, {9600, 495}, {10440, 495}}};
  for (int i = 0; i < 6; ++i)
    layout.boxes.push_back(Box(14 + i, line[i][0], 480, line[i][1], 1, CaptionKind::kLabel2));
  layout.texts.push_back(Unit("日", 10995, 480, 1));
  layout.pickers.push_back({PickerKind::kCalendar, 19, {11190, 450, 285, 330}, 1});
  layout.check = FloatingPictureCheck(10095, 80);
  Column(layout, 20, 21, 4200, 5175, 6000, 480);
  layout.command1 = {2160, 6960, 2535, 495};
  layout.command2 = {6960, 6960, 2535, 495};
  return layout;
}

WindowLayout Layout4() {
  WindowLayout layout = Window(4, 11670, 6330);
  layout.texts.push_back(RedHint("文本修改（请先预览后修改）", {120, 120, 0, 0}));
  // Each row of the page is a short box and a long box; the caption stands
  // once, before the short one.
  Column(layout, 0, 9, 840, 1335, 480, 360, -1, CaptionKind::kLabel2);
  Column(layout, 10, 19, 2280, 3375, 480, 360, -1, CaptionKind::kNone);
  Column(layout, 20, 29, 6720, 1335, 480, 360, -1, CaptionKind::kLabel2);
  Column(layout, 30, 39, 8160, 3375, 480, 360, -1, CaptionKind::kNone);
  layout.frames.push_back({"其他", {0, 4200, 11655, 1455}});
  layout.boxes.push_back(Box(40, 1320, 480, 1815, 0, CaptionKind::kLabel2));
  layout.boxes.push_back(Box(41, 4680, 480, 6855, 0, CaptionKind::kLabel2));
  layout.boxes.push_back(Box(42, 1320, 960, 4815, 0, CaptionKind::kLabel2));
  // The colour boxes hold a whole "#RRGGBB" and leave room for their
  // choosers' buttons.
  layout.boxes.push_back(Box(43, 7500, 960, 1140, 0, CaptionKind::kLabel2));
  layout.boxes.push_back(Box(44, 10110, 960, 1140, 0, CaptionKind::kLabel2));
  layout.pickers.push_back({PickerKind::kColour, 43, {8655, 930, 330, 330}, 0});
  layout.pickers.push_back({PickerKind::kColour, 44, {11265, 930, 330, 330}, 0});
  layout.command1 = {2520, 5760, 2535, 495};
  layout.command2 = {6960, 5760, 2535, 495};
  return layout;
}

WindowLayout Layout5() {
  WindowLayout layout = Window(5, 11670, 6870);
  layout.tinted = true;
  layout.frames.push_back({"风格5", {0, 0, 11670, 6870}});
  layout.frames.push_back({"您要对她（他）说的七句话", {0, 330, 11655, 5895}, 0});
  layout.frames.push_back({"其他设置", {5640, 0, 6015, 2535}, 1});
  layout.frames.push_back({"您最想对她（他）说的两句话", {0, 3480, 5415, 2295}, 1});
  Column(layout, 0, 6, 840, 4575, 360, 360, 1, CaptionKind::kLabel2);
  layout.boxes.push_back(Box(7, 1080, 3000, 1215, 1, CaptionKind::kLabel2));
  layout.boxes.push_back(Box(8, 3240, 3000, 2175, 1, CaptionKind::kLabel2));
  BoxPlacement own_html{17, {5880, 3240, 5535, 2415}, 1};
  own_html.multiline = true;
  own_html.caption = CaptionKind::kLabel2;
  own_html.caption_above = true;
  layout.boxes.push_back(own_html);
  Column(layout, 13, 16, 1800, 3975, 480, 480, 2, CaptionKind::kLabel2);
  Column(layout, 9, 10, 840, 3855, 360, 480, 3, CaptionKind::kNone);
  // The beloved's name, one character in each box.
  for (const auto& [index, left] : {std::pair{11, 2880}, std::pair{12, 4080}}) {
    BoxPlacement box{index, {left, 1440, 615, 375}, 3};
    box.face = Face::kSongTi;
    box.points = 14.25;
    box.caption = CaptionKind::kLabel2;
    layout.boxes.push_back(box);
  }
  layout.two_characters = {11, 12};
  // Reading order: the seven lines, the settings beside them, the line under
  // them, the own HTML on the right, then the two sentences below.
  layout.tab_order = {0, 1, 2, 3, 4, 5, 6, 13, 14, 15, 16, 7, 8, 17, 9, 10, 11, 12};
  layout.command1 = {2400, 6240, 2535, 495};
  layout.command2 = {6840, 6240, 2535, 495};
  return layout;
}

WindowLayout Layout6() {
  WindowLayout layout = Window(6, 10365, 6150);
  layout.tinted = true;
  layout.frames.push_back({"风格6－3D相册", {0, 0, 10365, 6150}});
  layout.frames.push_back(
      {"共12张图片（建议尺寸大小：640px * 386px 切勿偏差太多）", {15, 330, 10335, 5295}, 0});
  layout.frames.push_back({"其他", {0, 3240, 10335, 2055}, 1});
  Column(layout, 0, 5, 1080, 3615, 360, 480, 1, CaptionKind::kLabel2);
  Column(layout, 6, 11, 6240, 3615, 360, 480, 1, CaptionKind::kLabel2);
  layout.boxes.push_back(Box(12, 1560, 360, 2655, 2, CaptionKind::kLabel2));
  layout.boxes.push_back(Box(16, 1560, 960, 2655, 2, CaptionKind::kLabel2));
  layout.boxes.push_back(Box(17, 1560, 1560, 1575, 2, CaptionKind::kLabel2));
  layout.pickers.push_back({PickerKind::kColour, 17, {3180, 1530, 330, 330}, 2});
  layout.boxes.push_back(Box(13, 6000, 360, 4215, 2, CaptionKind::kLabel2));
  layout.boxes.push_back(Box(15, 6000, 960, 4215, 2, CaptionKind::kLabel2));
  layout.boxes.push_back(Box(14, 6000, 1560, 4215, 2, CaptionKind::kLabel2));
  layout.command1 = {1920, 5640, 2535, 495};
  layout.command2 = {6360, 5640, 2535, 495};
  return layout;
}

// 55 story pages and the title, fourteen lines to a column. A page's fields
// share its line: one box, two side by side, or up to four shorter ones.
WindowLayout Layout7() {
  WindowLayout layout = Window(7, 15525, 7785);
  layout.label1_points = 10.5;
  constexpr std::array<int, 4> kColumns = {1200, 5040, 8880, 12720};
  constexpr int kLinesPerColumn = 14;
  constexpr int kStep = 450;
  constexpr int kLineWidth = 2655;
  constexpr int kOverlap = 15;  // side-by-side boxes share their border
  const Style& style = GetStyle(7);

  std::vector<std::vector<int>> lines;
  std::string caption;
  for (const FieldRow& row : style.rows) {
    if (lines.empty() || row.caption != caption) lines.emplace_back();
    caption = row.caption;
    lines.back().push_back(row.index);
  }
  for (int line = 0; line < static_cast<int>(lines.size()); ++line) {
    const int left = kColumns[static_cast<std::size_t>(line / kLinesPerColumn)];
    const int top = 240 + (line % kLinesPerColumn) * kStep;
    const int count = static_cast<int>(lines[line].size());
    const int width = (kLineWidth + (count - 1) * kOverlap) / count;
    for (int k = 0; k < count; ++k)
      layout.boxes.push_back(
          Box(lines[line][k], left + k * (width - kOverlap), top, width, -1, CaptionKind::kNone));
    // Designed with the first page's caption everywhere; the window numbers
    // them when it loads.
    const bool title = line == static_cast<int>(lines.size()) - 1;
    std::string text = title ? "标题" : "第1张图";
    if (line >= 10 && line <= 14) text += "：";
    layout.texts.push_back(
        {"Label1", text, {left - 960, top + 15, 900, 240}, -1, false, Face::kHeiTi, 10.5});
  }
  layout.command1 = {11760, 6600, 1455, 735};
  layout.command2 = {13920, 6600, 1455, 735};
  return layout;
}

// Six page blocks, odd pages on the left and even on the right: a caption, the
// page's side lines, a caption, its middle text.
WindowLayout Layout8() {
  WindowLayout layout = Window(8, 10500, 7215);
  layout.icon = false;
  layout.label1_points = 10.5;
  constexpr std::array<int, 2> kColumns = {1440, 5760};
  constexpr int kWidth = 2775;
  constexpr int kRow = 375;
  const Style& style = GetStyle(8);
  layout.boxes.push_back(Box(0, kColumns[0], 240, kWidth));
  layout.boxes.push_back(Box(1, kColumns[1], 240, kWidth));
  const auto caption = [&](int index, int left, int top) {
    layout.texts.push_back({"Label1",
                            style.rows[static_cast<std::size_t>(index)].caption,
                            {left, top, 0, 0},
                            -1,
                            false,
                            Face::kHeiTi,
                            10.5});
  };
  for (int page = 1; page <= 6; ++page) {
    const int left = kColumns[static_cast<std::size_t>((page - 1) % 2)];
    int top = 720 + ((page - 1) / 2) * (5 * kRow + 180);
    const int first = 2 + 3 * (page - 1);
    const int side_lines = page == 6 ? 3 : 2;
    caption(first, left, top + 30);
    for (int k = 0; k < side_lines; ++k)
      layout.boxes.push_back(Box(first + k, left, top += kRow, kWidth, -1, CaptionKind::kNone));
    const int middle = first + side_lines;
    caption(middle, left, (top += kRow) + 30);
    layout.boxes.push_back(Box(middle, left, top += kRow, kWidth, -1, CaptionKind::kNone));
  }
  layout.command1 = {8880, 2160, 1455, 855};
  layout.command2 = {8880, 4200, 1455, 855};
  return layout;
}

}  // namespace

const WindowLayout& GetLayout(int style) {
  static const std::array<WindowLayout, kStyleCount> layouts = {
      Layout1(), Layout2(), Layout3(), Layout4(), Layout5(), Layout6(), Layout7(), Layout8()};
  if (style < 1 || style > kStyleCount)
    throw std::out_of_range("no editor for style " + std::to_string(style));
  return layouts[static_cast<std::size_t>(style - 1)];
}

// Where "手机预览" and "扫码预览" stand: side by side in the gap between the
// two designed buttons when they stand in a row, one above the other in it
// when they stand in a column, else (no gap wide enough) under the two.
std::pair<Rect, Rect> PhoneButtons(const WindowLayout& layout) {
  constexpr int kMargin = 90;
  const Rect& one = layout.command1;
  const Rect& two = layout.command2;
  const int row_gap = two.left - (one.left + one.width);
  if (row_gap >= 1800) {
    const int width = (row_gap - 3 * kMargin) / 2;
    const Rect phone{one.left + one.width + kMargin, one.top, width, one.height};
    return {phone, {phone.left + width + kMargin, one.top, width, one.height}};
  }
  const int column_gap = two.top - (one.top + one.height);
  if (column_gap >= 900) {
    const int height = (column_gap - 3 * kMargin) / 2;
    const Rect phone{one.left, one.top + one.height + kMargin, one.width, height};
    return {phone, {one.left, phone.top + height + kMargin, one.width, height}};
  }
  const int top = std::max(one.top + one.height, two.top + two.height) + kMargin / 2;
  const int height = layout.client_height - top - kMargin / 2;
  return {{one.left, top, one.width, height}, {two.left, top, two.width, height}};
}

}  // namespace heartpage
