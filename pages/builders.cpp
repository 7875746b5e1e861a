#include "pages/builders.h"

#include "pages/holder.h"
#include "pages/styles.h"
#include "pages/substitution.h"

namespace heartpage {
namespace {

// Every build starts again from the unchanged template, then applies the
// style's rows in order, each to the whole text as the earlier rows left it.
void Build(int number, const FieldSource& fields) {
  const Style& style = GetStyle(number);
  GGCT& holder = GGCT::Get();
  std::string page;
  if (style.has_check && fields.Checked()) page = holder.PF();
  page += holder.FG(number);
  std::string scratch;
  for (const FieldRow& row : style.rows)
    ReplaceAll(page, row.key, fields.Value(row.Name()), scratch);
  holder.FGN = std::move(page);
}

}  // namespace

FieldMap FieldMap::Defaults(const Style& style) {
  FieldMap map;
  for (const FieldRow& row : style.rows) map.values[row.Name()] = row.DefaultValue();
  return map;
}

std::string FieldMap::Value(std::string_view field) const {
  const auto it = values.find(field);
  return it == values.end() ? std::string() : it->second;
}

void BuildStyle1(const FieldSource& fields) {
  Build(1, fields);
}
void BuildStyle2(const FieldSource& fields) {
  Build(2, fields);
}
void BuildStyle3(const FieldSource& fields) {
  Build(3, fields);
}
void BuildStyle4(const FieldSource& fields) {
  Build(4, fields);
}
void BuildStyle5(const FieldSource& fields) {
  Build(5, fields);
}
void BuildStyle6(const FieldSource& fields) {
  Build(6, fields);
}
void BuildStyle7(const FieldSource& fields) {
  Build(7, fields);
}
void BuildStyle8(const FieldSource& fields) {
  Build(8, fields);
}

void BuildStyle(int style, const FieldSource& fields) {
  Build(style, fields);
}

}  // namespace heartpage
