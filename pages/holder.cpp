#include "pages/holder.h"

#include "pages/templates.h"

namespace heartpage {

GGCT& GGCT::Get() {
  static GGCT holder;
  return holder;
}

std::string_view GGCT::FG(int style) const {
  return StyleTemplate(style);
}

std::string_view GGCT::PF() const {
  return FloatingPictureTemplate();
}

}  // namespace heartpage
