#include "pages/builders.h"

#include <array>
#include <stdexcept>
#include <utility>

#include "pages/field_encoding.h"
#include "pages/holder.h"
#include "pages/page_plan.h"
#include "pages/placement.h"
#include "pages/styles.h"
#include "text/markup.h"

namespace heartpage {
namespace {

// The windows' builders leave the page in the holder too, where the upload
// dialog finds the page built last by any editor.
std::string Keep(std::string page) {
  GGCT::Get().FGN = page;
  return page;
}

bool IsAddressKind(FieldKind kind) {
  return kind == FieldKind::kPicture || kind == FieldKind::kMusic || kind == FieldKind::kVideo ||
         kind == FieldKind::kAddress;
}

}  // namespace

// A colour typed as none is the default colour.
std::string MeantValue(const FieldRow& row, std::string value) {
  if (row.kind == FieldKind::kColour) {
    if (auto colour = NormalColour(value)) return *colour;
    return NormalColour(row.DefaultValue()).value_or(std::string());
  }
  if (IsAddressKind(row.kind)) return SafeAddress(value);
  return value;
}

std::string WrittenValue(const FieldRow& row, const std::string& value, const Placement& place) {
  if (row.kind == FieldKind::kMarkup && place.slot == Slot::kText) {
    CleanMarkup clean = SanitizeMarkup(value);
    return clean.holds_markup ? std::move(clean.html) : HtmlLineBreaks(clean.html);
  }
  return EncodeForPlacement(value, place);
}

std::string BuildPage(int number, const FieldSource& fields) {
  return BuildStyle(number, fields);
}

std::string BuildPage(int number, const FieldSource& fields, const HostAddress& host) {
  const auto plans = PlansFor(host);
  if (number < 1 || number > kStyleCount)
    throw std::out_of_range("no style " + std::to_string(number) + "; styles are 1 to 8");
  return (*plans)[static_cast<std::size_t>(number - 1)].Build(fields);
}

FieldMap FieldMap::Defaults(const Style& style) {
  FieldMap map;
  for (const FieldRow& row : style.rows) map.values[row.Name()] = row.DefaultValue();
  return map;
}

std::string FieldMap::Value(std::string_view field) const {
  const auto it = values.find(field);
  return it == values.end() ? std::string() : it->second;
}

// Styles 1 and 4 to 8 start from their template alone; 2 and 3 add the
// floating picture when the window's check box is ticked, which their plan
// reads from the fields. Every build starts again from the unchanged
// template, then writes each row's value where its key stood.
std::string BuildStyle1(const FieldSource& fields) {
  return Keep(OwnPlan(1).Build(fields));
}
std::string BuildStyle2(const FieldSource& fields) {
  return Keep(OwnPlan(2).Build(fields));
}
std::string BuildStyle3(const FieldSource& fields) {
  return Keep(OwnPlan(3).Build(fields));
}
std::string BuildStyle4(const FieldSource& fields) {
  return Keep(OwnPlan(4).Build(fields));
}
std::string BuildStyle5(const FieldSource& fields) {
  return Keep(OwnPlan(5).Build(fields));
}
std::string BuildStyle6(const FieldSource& fields) {
  return Keep(OwnPlan(6).Build(fields));
}
std::string BuildStyle7(const FieldSource& fields) {
  return Keep(OwnPlan(7).Build(fields));
}
std::string BuildStyle8(const FieldSource& fields) {
  return Keep(OwnPlan(8).Build(fields));
}

std::string BuildStyle(int style, const FieldSource& fields) {
  using Builder = std::string (*)(const FieldSource&);
  static constexpr std::array<Builder, kStyleCount> kBuilders = {
      BuildStyle1, BuildStyle2, BuildStyle3, BuildStyle4,
      BuildStyle5, BuildStyle6, BuildStyle7, BuildStyle8};
  if (style < 1 || style > kStyleCount)
    throw std::out_of_range("no style " + std::to_string(style) + "; styles are 1 to 8");
  return kBuilders[static_cast<std::size_t>(style - 1)](fields);
}

}  // namespace heartpage
