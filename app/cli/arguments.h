#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "app/cli/command_table.h"
#include "pages/builders.h"
#include "protocol/page_settings.h"

namespace heartpage::cli {

// A usage error: the message is printed and the program ends with status 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// What `build`, `preview` and `publish` share: a style and the field values
// for it, starting from the style's defaults.
struct PageRequest {
  int style = 0;
  FieldMap fields;
  std::string output;   // -o FILE; empty for standard output
  std::string name;     // --name NAME
  bool strict = false;  // --strict: findings of the field checks end the command
  // --opens 'YYYY-MM-DD HH:MM' (local time, here in UTC), --code, --hint
  wire::PageSettings settings;
};

// Reads "--style N [--set 'Text1(3)=value' ...] [--check] [-o FILE] [--name NAME]
// [--strict] [--question TEXT [--answers 'A,B']] [--opens 'YYYY-MM-DD HH:MM']
// [--code TEXT --hint TEXT]", those of them the command takes.
// Throws UsageError for an unknown style or field, a malformed --set, a
// check box on a style without one, a question or answers too long, answers
// that are not two or without a question, a moment that is no local time or
// has passed, or a code without a hint or a hint without a code.
PageRequest ParsePageRequest(const Arguments& args);

}  // namespace heartpage::cli
