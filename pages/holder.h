#pragma once

#include <string>
#include <string_view>

namespace heartpage {

// The never-shown holder of the windows' shared page state: the eight
// templates and the floating-picture snippet (fixed for the program's life,
// see pages/templates.h), the page built last by any editor, and the name
// this machine owns on the publishing server. Page building itself
// (BuildPage) does not depend on it. Touched only from the user-interface
// thread.
class GGCT {
 public:
  static GGCT& Get();

  // The template of style 1 ... 8, with the publishing host bound.
  std::string_view FG(int style) const;
  // The snippet that styles 2 and 3 put in front of their template.
  std::string_view PF() const;

  std::string FGN;   // the page built last: written by the BuildStyle builders only
  std::string ZCYN;  // the owned file name, empty when none

 private:
  GGCT() = default;
};

}  // namespace heartpage
