#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/site/policy/page_check.h"
#include "server/storage/deny_store.h"

namespace heartpage::server {

// The one spelling an entry is kept and matched in: small letters (ASCII:
// hosts and Latin words; Chinese has no case), surrounding spaces gone, and
// for a host a final dot and any "http://" or path around it. Nothing when
// the value cannot be one: empty, too long, a host with characters no host
// name has.
std::optional<std::string> NormalizeDenied(DenyKind kind, std::string_view value);

// The refusal line for a page whose fields `values` name a denied host (in
// an http or https address: the host itself or any of its subdomains) or
// contain a denied word (anywhere, in any letters); nothing when none does.
// The line names `what` held them.
std::optional<std::string> DeniedIn(const std::vector<std::string>& values,
                                    const std::vector<DenyEntry>& denied,
                                    std::string_view what = "the page");
// The same for a page as the check read it: its fields, and the question it
// asks with its two answers, which its reader sees as well.
std::optional<std::string> DeniedIn(const PageCheck& page, const std::vector<DenyEntry>& denied);

}  // namespace heartpage::server
