#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

#include "server/storage/page_file.h"

namespace heartpage::server {

PageFile::~PageFile() {
  if (fd_ >= 0) close(fd_);
}

PageFile PageFile::Create(std::string_view bytes) {
  return Create(std::span<const std::string_view>(&bytes, 1));
}

PageFile PageFile::Create(std::span<const std::string_view> pieces) {
  PageFile file(memfd_create("heartpage-page", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  if (!file.valid()) return file;
  for (const std::string_view bytes : pieces) {
    for (std::size_t written = 0; written < bytes.size();) {
      const ssize_t n = write(file.fd_, bytes.data() + written, bytes.size() - written);
      if (n <= 0) return PageFile();
      written += static_cast<std::size_t>(n);
    }
  }
  // Sealed, so that what is sent is the page, whatever happens to the fd.
  fcntl(file.fd_, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
  return file;
}

}  // namespace heartpage::server
