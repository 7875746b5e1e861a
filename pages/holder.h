#pragma once

#include <array>
#include <string>
#include <string_view>

namespace heartpage {

// The never-shown holder of the program's shared page state: the eight
// templates and the floating-picture snippet (fixed for the program's life),
// the page built last, and the name this machine owns on the publishing
// server. Created on first use; touched only from the user-interface thread.
class GGCT {
 public:
  static GGCT& Get();

  // The template of style 1 ... 8, with the publishing host bound.
  std::string_view FG(int style) const;
  // The snippet that styles 2 and 3 put in front of their template.
  std::string_view PF() const { return pf_; }

  std::string FGN;   // the working page: written by the builders only
  std::string ZCYN;  // the owned file name, empty when none

 private:
  GGCT();
  std::array<std::string, 8> templates_;
  std::string pf_;
};

}  // namespace heartpage
