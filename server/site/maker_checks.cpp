#include "server/site/maker_checks.h"

#include <vector>

#include "pages/styles.h"
#include "publish/field_checks.h"
#include "server/site/json.h"

namespace heartpage::server {

std::string CheckFindingsJson(int style, const FieldSource& fields,
                              const wire::PageSettings& settings) {
  CheckOptions options;
  options.sample_text = true;
  options.try_addresses = false;
  std::vector<Finding> findings = CheckFields(GetStyle(style), fields, options);
  for (Finding& finding : CodeFindings(settings)) findings.push_back(std::move(finding));
  std::string out = "{\"findings\":[";
  for (std::size_t i = 0; i < findings.size(); ++i) {
    if (i > 0) out += ',';
    out += "{\"caption\":" + JsonString(findings[i].caption) +
           ",\"reason\":" + JsonString(findings[i].reason) +
           (findings[i].blocks ? ",\"blocks\":true}" : ",\"blocks\":false}");
  }
  return out + "]}";
}

}  // namespace heartpage::server
