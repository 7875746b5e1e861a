#include "publish/client_services.h"

namespace heartpage {

Poster EndpointPoster(const ClientServices& services) {
  return [post = services.post](const std::string& body) { return post(body, PostLimits{}); };
}

UploadServices UploadServicesOf(const ClientServices& services) {
  return {EndpointPoster(services), services.machine_id};
}

}  // namespace heartpage
