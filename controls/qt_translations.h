#pragma once

namespace heartpage {

// Puts Qt's own texts (the standard menus of text boxes, the buttons of
// message boxes) in Chinese, whatever the system's language: the program
// speaks Chinese throughout. Reads Qt's translation of its base module from
// Qt's translations folder, else from "translations" beside the program.
// False when no translation could be loaded; the texts then stay English.
bool InstallQtChineseTranslations();

}  // namespace heartpage
