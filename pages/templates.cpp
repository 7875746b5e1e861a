#include "pages/templates.h"

#include <array>
#include <stdexcept>
#include <string>

#include "protocol/host.h"

namespace heartpage {
namespace detail {
std::string_view EmbeddedTemplate(std::string_view name);  // generated at build time
}

namespace {

struct BoundTemplates {
  BoundTemplates() {
    for (std::size_t i = 0; i < styles.size(); ++i)
      styles[i] = BindHost(detail::EmbeddedTemplate("FG" + std::to_string(i + 1)));
    floating = BindHost(detail::EmbeddedTemplate("PF"));
  }
  std::array<std::string, 8> styles;
  std::string floating;
};

const BoundTemplates& Templates() {
  static const BoundTemplates templates;
  return templates;
}

}  // namespace

std::string_view StyleTemplate(int style) {
  const auto& styles = Templates().styles;
  if (style < 1 || style > static_cast<int>(styles.size()))
    throw std::out_of_range("no template for style " + std::to_string(style));
  return styles[static_cast<std::size_t>(style - 1)];
}

std::string_view FloatingPictureTemplate() {
  return Templates().floating;
}

std::string_view QuestionPartTemplate() {
  return detail::EmbeddedTemplate("QA");
}

std::string_view LinkCardTemplate() {
  return detail::EmbeddedTemplate("LC");
}

std::string_view UnboundTemplate(int style) {
  if (style < 0 || style > 8)
    throw std::out_of_range("no template for style " + std::to_string(style));
  return detail::EmbeddedTemplate(style == 0 ? std::string("PF") : "FG" + std::to_string(style));
}

}  // namespace heartpage
