#include "server/site/endpoint/maker_checks.h"

#include <optional>
#include <vector>

#include "pages/styles.h"
#include "protocol/media_kind.h"
#include "protocol/wire.h"
#include "publish/field_checks.h"
#include "server/site/common/json.h"
#include "server/site/common/site_pages.h"

namespace heartpage::server {

std::string CheckFindingsJson(int style, const FieldSource& fields,
                              const wire::PageSettings& settings, MediaStore& media,
                              std::string_view public_host) {
  CheckOptions options;
  options.sample_text = true;
  options.try_addresses = false;
  const std::string files = PublicOrigin(public_host) + std::string(wire::kMediaPrefix);
  options.known_answer = [&](std::string_view address) -> std::optional<CheckOptions::Answer> {
    if (!address.starts_with(files)) return std::nullopt;
    std::string_view name = address.substr(files.size());
    name = name.substr(0, name.find_first_of("?#"));
    // What /media/ would answer: a name of no kind it serves is not found.
    if (!MediaTypeOfName(name)) return CheckOptions::Answer{404, ""};
    const std::optional<MediaFacts> facts = media.FindMedia(name);
    if (!facts) return CheckOptions::Answer{404, ""};
    return CheckOptions::Answer{200, facts->content_type};
  };
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
