#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/page_settings.h"

namespace heartpage {

class FieldSource;
struct Style;

// What the upload dialog publishes: the page of the editor that opened it,
// built from that editor's fields when the upload is confirmed, so that a
// preview in another editor meanwhile changes nothing.
struct BuiltPage {
  std::string page;
  std::string first_line;  // of the message, for the dialog to show
  // How it opens, sent with its store; the page itself is the same either way.
  wire::PageSettings settings = {};
};

struct PageSource {
  int style = 0;  // 1 to 8
  // The page as the editor's fields are now; std::nullopt once the editor is
  // gone. Called on the windows' thread.
  std::function<std::optional<BuiltPage>()> build;
};

// The page of style `style` from the fields `fields` answers (nullptr once
// they are gone), built by the style's builder.
PageSource EditorPageSource(int style, std::function<const FieldSource*()> fields);

// A page already built, for the command line's and the tests' dialogs.
PageSource FixedPageSource(int style, std::string page, std::string first_line = {},
                           wire::PageSettings settings = {});

// "风格3 · 心形树+漂浮图片": the number and the name the gallery shows.
std::string StyleDisplayName(int style);

// The text of the page's first <title>, blanks trimmed; empty when none.
std::string PageTitle(std::string_view page);

}  // namespace heartpage
