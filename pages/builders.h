#pragma once

#include <map>
#include <string>
#include <string_view>

namespace heartpage {

struct HostAddress;

struct Style;
struct FieldRow;
struct Placement;

// Where a builder reads the fields of its style: the editor window, or a map
// for the command line and the tests.
class FieldSource {
 public:
  virtual ~FieldSource() = default;
  // The text of the field named like "Text1(3)", exactly as typed.
  virtual std::string Value(std::string_view field) const = 0;
  // Whether the window's check box Check1 is ticked.
  virtual bool Checked() const = 0;
};

// Field values by name; a field that is not in the map is empty.
class FieldMap : public FieldSource {
 public:
  FieldMap() = default;
  // Every field of `style` with its default value.
  static FieldMap Defaults(const Style& style);

  std::string Value(std::string_view field) const override;
  bool Checked() const override { return checked; }

  std::map<std::string, std::string, std::less<>> values;
  bool checked = false;
};

// The page of style 1 ... 8 built from `fields` by the style's builder
// below, each value written for the place it lands (pages/field_encoding.h),
// so that it shows as typed; throws std::out_of_range for any other style.
std::string BuildPage(int style, const FieldSource& fields);
// The same from the templates bound to a host of the caller's (the server's
// address). Touches no shared state.
std::string BuildPage(int style, const FieldSource& fields, const HostAddress& host);

// What a field stands for, whatever was typed: a colour in the form the
// pages' style rules read, an address that can only be loaded or followed.
std::string MeantValue(const FieldRow& row, std::string typed);
// A meant value as the builders write it where `place` says.
std::string WrittenValue(const FieldRow& row, const std::string& meant, const Placement& place);

// The builders of the eight styles, from the plan of their templates made
// at first use (pages/page_plan.h): each keeps the page in GGCT's FGN (the
// page built last, which the upload dialog sends) and returns it.
std::string BuildStyle1(const FieldSource& fields);
std::string BuildStyle2(const FieldSource& fields);
std::string BuildStyle3(const FieldSource& fields);
std::string BuildStyle4(const FieldSource& fields);
std::string BuildStyle5(const FieldSource& fields);
std::string BuildStyle6(const FieldSource& fields);
std::string BuildStyle7(const FieldSource& fields);
std::string BuildStyle8(const FieldSource& fields);

// The builder of style 1 ... 8; throws std::out_of_range for any other.
std::string BuildStyle(int style, const FieldSource& fields);

}  // namespace heartpage
