#pragma once

// A page as the program builds it for a server, the only kind a server
// publishes.

#include <string>

#include "pages/builders.h"
#include "pages/styles.h"
#include "pages/templates.h"
#include "protocol/host.h"

namespace heartpage::server::testing {

// Style 1 for the site at `host` ("127.0.0.1:port"), its first text saying
// `words`.
inline std::string BuiltPage(const std::string& host, const std::string& words) {
  const Style& style = GetStyle(1);
  FieldMap fields = FieldMap::Defaults(style);
  for (const FieldRow& row : style.rows)
    if (row.kind == FieldKind::kText) {
      fields.values[row.Name()] = words;
      break;
    }
  const HostAddress address = ParseHost(host);
  return BuildPage(1, fields, address);
}

// The same asking `question`, with the page's two answers.
inline std::string AskingPage(const std::string& host, const std::string& words,
                              const std::string& question,
                              const std::string& answers = "我愿意,让我想想") {
  const Style& style = GetStyle(1);
  FieldMap fields = FieldMap::Defaults(style);
  for (const FieldRow& row : style.rows)
    if (row.kind == FieldKind::kText) {
      fields.values[row.Name()] = words;
      break;
    }
  fields.values["Question"] = question;
  fields.values["Answer1"] = answers.substr(0, answers.find(','));
  fields.values["Answer2"] = answers.substr(answers.find(',') + 1);
  const HostAddress address = ParseHost(host);
  return BuildPage(1, fields, address);
}

}  // namespace heartpage::server::testing
