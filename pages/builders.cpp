#include "pages/builders.h"

#include "pages/holder.h"
#include "pages/styles.h"
#include "pages/substitution.h"
#include "pages/templates.h"

namespace heartpage {
namespace {

// The windows' builders leave the page in the holder too, where the upload
// dialog finds the page built last by any editor.
std::string Keep(std::string page) {
  GGCT::Get().FGN = page;
  return page;
}

}  // namespace

// Every build starts again from the unchanged template, then applies the
// style's rows in order, each to the whole text as the earlier rows left it.
std::string BuildPage(int number, const FieldSource& fields) {
  const Style& style = GetStyle(number);
  std::string page;
  if (style.has_check && fields.Checked()) page = FloatingPictureTemplate();
  page += StyleTemplate(number);
  std::string scratch;
  for (const FieldRow& row : style.rows)
    ReplaceAll(page, row.key, fields.Value(row.Name()), scratch);
  return page;
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

std::string BuildStyle1(const FieldSource& fields) {
  return Keep(BuildPage(1, fields));
}
std::string BuildStyle2(const FieldSource& fields) {
  return Keep(BuildPage(2, fields));
}
std::string BuildStyle3(const FieldSource& fields) {
  return Keep(BuildPage(3, fields));
}
std::string BuildStyle4(const FieldSource& fields) {
  return Keep(BuildPage(4, fields));
}
std::string BuildStyle5(const FieldSource& fields) {
  return Keep(BuildPage(5, fields));
}
std::string BuildStyle6(const FieldSource& fields) {
  return Keep(BuildPage(6, fields));
}
std::string BuildStyle7(const FieldSource& fields) {
  return Keep(BuildPage(7, fields));
}
std::string BuildStyle8(const FieldSource& fields) {
  return Keep(BuildPage(8, fields));
}

std::string BuildStyle(int style, const FieldSource& fields) {
  return Keep(BuildPage(style, fields));
}

}  // namespace heartpage
