// Which defaults are only examples. The defaults show what a field is for;
// some of them name people who are not the sender's, or stand in for what
// only the sender knows, and a page that goes out with them says so to its
// reader.
#include <string_view>

#include "publish/field_checks.h"

namespace heartpage {
namespace {

// Written where a name belongs.
constexpr std::string_view kPlaceholders[] = {"XXX", "某某"};

// The people of the defaults: the couple of styles 1 to 6 and the two
// characters of style 7's story.
constexpr std::string_view kSampleNames[] = {"思雨", "子墨", "阿福", "桃桃"};

// Whole defaults that are examples though they name nobody: the
// instant-messenger number and the signature under style 3's page.
constexpr std::string_view kSampleValues[] = {"123456789", "Varnel软件"};

// The default titles name the style ("风格1" … "风格6--3D相册"), which is what
// her browser's tab and a chat's card would show.
constexpr std::string_view kStyleTitle = "风格";

// A row captioned by no words ("+" between two boxes) goes on the row
// before it: style 5 splits the beloved's name over two boxes so.
bool ContinuesTheRowBefore(const FieldRow& row) {
  return !row.caption.empty() && row.caption.find_first_not_of("+ ") == std::string::npos;
}

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

bool IsSample(std::string_view value, std::string_view by_default) {
  if (value == by_default && value.starts_with(kStyleTitle)) return true;
  for (const std::string_view placeholder : kPlaceholders)
    if (Contains(value, placeholder)) return true;
  for (const std::string_view name : kSampleNames)
    if (Contains(by_default, name) && Contains(value, name)) return true;
  if (value != by_default) return false;
  for (const std::string_view sample : kSampleValues)
    if (value == sample) return true;
  return false;
}

}  // namespace

std::vector<std::size_t> SampleTextRows(const Style& style, const FieldSource& fields) {
  std::vector<std::size_t> rows;
  for (std::size_t i = 0; i < style.rows.size(); ++i) {
    const FieldRow& row = style.rows[i];
    if (row.kind != FieldKind::kText || ContinuesTheRowBefore(row)) continue;
    std::string value = fields.Value(row.Name());
    std::string by_default = row.DefaultValue();
    for (std::size_t next = i + 1;
         next < style.rows.size() && ContinuesTheRowBefore(style.rows[next]); ++next) {
      value += fields.Value(style.rows[next].Name());
      by_default += style.rows[next].DefaultValue();
    }
    if (IsSample(value, by_default)) rows.push_back(i);
  }
  return rows;
}

}  // namespace heartpage
