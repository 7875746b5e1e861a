#include "publish/file_upload.h"

namespace heartpage {

MediaUploadResult SendOwnFile(const std::string& path, std::string_view bytes,
                              std::string_view machine_id, const MediaProgress& progress) {
  return UploadMedia(MediaUploadAddress(), path, bytes, machine_id, progress);
}

}  // namespace heartpage
