#include "app/startup.h"

#include <algorithm>
#include <iostream>
#include <memory>
#include <stdexcept>

#include "net/server_requests.h"
#include "protocol/host.h"

namespace heartpage {
namespace {

std::optional<std::string> Field(const SettingsFields& fields, std::size_t index) {
  if (!fields || fields->size() <= index) return std::nullopt;
  return (*fields)[index];
}

std::optional<std::string> SerialOrNone(const ClientServices& services) {
  try {
    return services.machine_id();
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

StartupResult ServerSteps(const ClientServices& services, bool at_start);

}  // namespace

StartupResult RunStartup(const ClientServices& services,
                         const std::function<bool()>& claim_instance) {
  StartupResult result;
  // Judged before anything is asked: a mistyped host otherwise reads as a
  // server that cannot be reached, and the user looks for the fault in the
  // network.
  if (const auto problem = ConfiguredHostProblem()) {
    std::cerr << "heartpage: " << problem->english << '\n';
    services.show_notice({problem->chinese, std::string(kNoticeTitle), NoticeIcon::kExclamation});
    result.exit_status = 2;
    return result;
  }
  if (!claim_instance()) {
    services.show_notice(
        {std::string(kAlreadyRunningText), std::string(kNoticeTitle), NoticeIcon::kExclamation});
    return result;
  }

  return ServerSteps(services, /*at_start=*/true);
}

std::string UnreachableText(std::string_view host) {
  return std::string(kUnreachableText) + "\n服务器：" + std::string(host);
}

StartupResult Reconnect(const ClientServices& services) {
  return ServerSteps(services, /*at_start=*/false);
}

namespace {

StartupResult ServerSteps(const ClientServices& services, bool at_start) {
  StartupResult result;
  const Poster post = EndpointPoster(services);
  if (auto announcement = Field(FetchSettings(post), kAnnouncementField))
    result.announcement = *announcement + std::string(kAnnouncementGap);

  const std::optional<std::string> version = Field(FetchSettings(post), kVersionField);
  if (!version) {
    if (!at_start) {
      // The window keeps saying that the server is not reached.
      result.announcement.reset();
      result.show_main = true;
      result.offline = true;
      return result;
    }
    // No settings at all is a broken connection, not a newer client. A
    // mistyped port is well formed: the notice names the host so that the
    // user can see it.
    std::cerr << "heartpage: cannot reach the publishing server at " << PublishingOrigin() << '\n';
    const Notice unreachable{UnreachableText(PublishingHost()), std::string(kNoticeTitle),
                             NoticeIcon::kExclamation};
    if (!services.offer_choice) {
      services.show_notice(unreachable);
    } else if (services.offer_choice(unreachable, std::string(kOfflineChoice))) {
      result.show_main = true;
      result.offline = true;
      result.announcement = std::string(kOfflineAnnouncement) + std::string(kAnnouncementGap);
    }
    return result;
  }
  if (*version != kClientVersion) {
    services.show_notice(
        {std::string(kNewVersionText), std::string(kNoticeTitle), NoticeIcon::kInformation});
    const std::optional<std::string> download = Field(FetchSettings(post), kDownloadField);
    if (download && IsWebAddress(*download)) {
      services.open_target(*download);
    } else if (download) {
      // Only a web address goes to the desktop's opener: anything else from
      // the answer (a file, a program's scheme) is treated as no answer.
      services.show_notice(
          {std::string(kUnreachableText), std::string(kNoticeTitle), NoticeIcon::kExclamation});
    }
    return result;
  }

  result.show_main = true;
  const std::optional<std::string> machine_id = SerialOrNone(services);
  if (!machine_id) return result;
  const PostResult answer = post(OwnershipLookupRequest(*machine_id));
  if (!answer.ok) return result;
  // The identifier is read again for the comparison: the answer must name
  // the machine as it is now.
  const std::optional<std::string> compared_id = SerialOrNone(services);
  if (!compared_id) return result;
  const auto record = wire::FirstRecord(answer.text);
  if (record && record->size() >= 2 && (*record)[0] == *compared_id)
    result.owned_name = (*record)[1];
  return result;
}

}  // namespace

EndpointPost WithinBudget(EndpointPost post, std::chrono::milliseconds budget) {
  using Clock = std::chrono::steady_clock;
  auto deadline = std::make_shared<std::optional<Clock::time_point>>();
  return [post = std::move(post), deadline, budget](const std::string& body,
                                                    const PostLimits& limits) {
    if (!*deadline) *deadline = Clock::now() + budget;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(**deadline - Clock::now());
    if (left.count() <= 0) return PostResult{};
    PostLimits bounded = limits;
    bounded.connect = std::min({limits.connect, kStartupConnectLimit, left});
    bounded.total = std::min(limits.total, left);
    return post(body, bounded);
  };
}

std::string ScrollOnce(std::string_view caption) {
  if (caption.empty()) return {};
  const auto lead = static_cast<unsigned char>(caption[0]);
  std::size_t length = 1;
  if (lead >= 0xF0 && lead < 0xF8) {
    length = 4;
  } else if (lead >= 0xE0) {
    length = 3;
  } else if (lead >= 0xC0) {
    length = 2;
  }
  if (length > caption.size()) length = 1;
  for (std::size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(caption[i]) & 0xC0) != 0x80) {
      length = 1;
      break;
    }
  }
  std::string scrolled(caption.substr(length));
  scrolled.append(caption.substr(0, length));
  return scrolled;
}

}  // namespace heartpage
