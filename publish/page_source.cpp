#include "publish/page_source.h"

#include <algorithm>
#include <array>
#include <vector>

#include "pages/builders.h"
#include "pages/link_card.h"
#include "pages/styles.h"
#include "publish/page_gate.h"
#include "text/utf8.h"

namespace heartpage {
namespace {}  // namespace

PageSource EditorPageSource(int style, std::function<const FieldSource*()> fields) {
  return {style, [style, fields = std::move(fields)]() -> std::optional<BuiltPage> {
            const FieldSource* source = fields();
            if (source == nullptr) return std::nullopt;
            // The builder keeps the page as the page built last, as every
            // builder of the windows does.
            return BuiltPage{BuildStyle(style, *source), FirstMessageLine(GetStyle(style), *source),
                             GateOf(*source)};
          }};
}

PageSource FixedPageSource(int style, std::string page, std::string first_line,
                           wire::PageSettings settings) {
  return {style, [built = BuiltPage{std::move(page), std::move(first_line), std::move(settings)}] {
            return std::optional<BuiltPage>(built);
          }};
}

std::string StyleDisplayName(int style) {
  std::string name = "风格" + std::to_string(style);
  if (style >= 1 && style <= kStyleCount) name += " · " + std::string(GalleryName(style));
  return name;
}

std::string PageTitle(std::string_view page) {
  const std::size_t open = page.find("<title>");
  if (open == std::string_view::npos) return {};
  const std::size_t start = open + std::string_view("<title>").size();
  const std::size_t end = page.find("</title>", start);
  if (end == std::string_view::npos) return {};
  return std::string(Trimmed(page.substr(start, end - start)));
}

}  // namespace heartpage
