#include "pages/holder.h"

#include <stdexcept>

#include "net/host.h"

namespace heartpage {
namespace detail {
std::string_view EmbeddedTemplate(std::string_view name);  // generated at build time
}

GGCT::GGCT() {
  for (std::size_t i = 0; i < templates_.size(); ++i)
    templates_[i] = BindHost(detail::EmbeddedTemplate("FG" + std::to_string(i + 1)));
  pf_ = BindHost(detail::EmbeddedTemplate("PF"));
}

GGCT& GGCT::Get() {
  static GGCT holder;
  return holder;
}

std::string_view GGCT::FG(int style) const {
  if (style < 1 || style > static_cast<int>(templates_.size()))
    throw std::out_of_range("no template for style " + std::to_string(style));
  return templates_[style - 1];
}

}  // namespace heartpage
