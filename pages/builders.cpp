#include "pages/builders.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "pages/field_encoding.h"
#include "pages/holder.h"
#include "pages/placement.h"
#include "pages/question.h"
#include "pages/styles.h"
#include "pages/templates.h"
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

namespace {

// Replaces every occurrence of the row's key in `page`, left to right and
// without looking into what it inserts, each written for where it stands.
void Substitute(std::string& page, const FieldRow& row, const std::string& value,
                std::string& out) {
  std::size_t hit = page.find(row.key);
  if (hit == std::string::npos) return;
  // A key occurs at most a few times, in at most two kinds of place.
  std::vector<std::pair<Placement, std::string>> written;
  PageScanner scanner(page);
  out.clear();
  std::size_t pos = 0;
  for (; hit != std::string::npos; hit = page.find(row.key, pos)) {
    const Placement place = scanner.At(hit);
    auto known = std::find_if(written.begin(), written.end(),
                              [&](const auto& entry) { return entry.first == place; });
    if (known == written.end())
      known = written.insert(written.end(), {place, WrittenValue(row, value, place)});
    out.append(page, pos, hit - pos).append(known->second);
    pos = hit + row.key.size();
  }
  out.append(page, pos);
  page.swap(out);
}

// The question part with its texts in, each key replaced in one pass over
// the part as written: an answer may read like the other's key and still be
// itself.
std::string QuestionPart(int style, const AskedQuestion& asked) {
  const std::string_view part = QuestionTemplate(style);
  const std::vector<FieldRow>& rows = QuestionRows();
  const std::string* values[] = {&asked.question, &asked.answer1, &asked.answer2};
  std::vector<std::pair<std::size_t, std::size_t>> hits;  // offset, row
  for (std::size_t i = 0; i < rows.size(); ++i)
    for (std::size_t at = part.find(rows[i].key); at != std::string_view::npos;
         at = part.find(rows[i].key, at + rows[i].key.size()))
      hits.emplace_back(at, i);
  std::sort(hits.begin(), hits.end());
  PageScanner scanner(part);
  std::string out;
  std::size_t pos = 0;
  for (const auto& [at, i] : hits) {
    out.append(part, pos, at - pos).append(WrittenValue(rows[i], *values[i], scanner.At(at)));
    pos = at + rows[i].key.size();
  }
  out.append(part, pos);
  return out;
}

}  // namespace

// Every build starts again from the unchanged template, then applies the
// style's rows in order, each to the whole text as the earlier rows left it.
// Where a later key turns up inside an earlier value, its value is written
// for that value's place, which the scanner reads from the page as it is.
std::string BuildPage(int number, const FieldSource& fields) {
  return BuildPage(number, fields, StyleTemplate(number), FloatingPictureTemplate());
}

std::string BuildPage(int number, const FieldSource& fields, std::string_view style_template,
                      std::string_view floating_template) {
  const Style& style = GetStyle(number);
  std::string page(style_template);
  // The floating picture closes the body: in front of the doctype it would
  // put the page in quirks mode and push the charset past the part of the
  // page a browser reads for it.
  if (style.has_check && fields.Checked()) {
    const std::size_t end = page.rfind("</body>");
    page.insert(end == std::string::npos ? page.size() : end, floating_template);
  }
  std::string scratch;
  for (const FieldRow& row : style.rows)
    Substitute(page, row, MeantValue(row, fields.Value(row.Name())), scratch);
  // The question is filled apart and added last: no style's key reaches into
  // it and none of its values into the page, and a page asking nothing is
  // the style's own.
  if (const std::optional<AskedQuestion> asked = QuestionOf(fields))
    page.insert(QuestionPartAt(page), QuestionPart(number, *asked));
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
