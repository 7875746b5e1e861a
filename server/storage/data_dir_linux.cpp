#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "server/storage/data_dir.h"
#include "server/storage/machine_id_hash.h"
#include "text/ascii.h"

namespace heartpage::server {
namespace {

std::runtime_error Failure(const std::string& what, const std::filesystem::path& path) {
  return std::runtime_error(what + " " + path.string() + ": " + std::strerror(errno));
}

std::string Octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

void Tighten(const std::filesystem::path& path, mode_t mode, mode_t wanted, const Note& note) {
  if ((mode & 07777) == wanted) return;
  if (chmod(path.c_str(), wanted) != 0) throw Failure("cannot make private", path);
  note(path.string() + " was " + Octal(mode) + ", now " + Octal(wanted));
}

void SyncDir(const std::filesystem::path& dir) {
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

}  // namespace

void MakePrivateDataDir(const std::filesystem::path& dir, const Note& note) {
  if (dir.has_parent_path()) std::filesystem::create_directories(dir.parent_path());
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) throw Failure("cannot create", dir);
  struct stat info {};
  if (stat(dir.c_str(), &info) != 0) throw Failure("cannot read", dir);
  if (!S_ISDIR(info.st_mode)) throw std::runtime_error(dir.string() + " is not a folder");
  if ((info.st_mode & S_ISVTX) != 0)
    throw std::runtime_error(dir.string() +
                             " is a folder shared by all users; give one of its own");
  Tighten(dir, info.st_mode, 0700, note);
  // Links are left alone: changing one would change what it points to.
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    struct stat file {};
    if (lstat(entry.path().c_str(), &file) != 0 || !S_ISREG(file.st_mode)) continue;
    if ((file.st_mode & 0077) != 0) Tighten(entry.path(), file.st_mode, 0600, note);
  }
}

std::string LoadOrCreateKey(const std::filesystem::path& file, const Note& note) {
  const int fd = open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && errno != ENOENT) throw Failure("cannot open", file);
  if (fd >= 0) {
    char text[256];
    const ssize_t got = read(fd, text, sizeof text);
    close(fd);
    std::string key;
    for (ssize_t i = 0; i + 1 < got; i += 2) {
      const int high = HexDigit(text[i]);
      const int low = HexDigit(text[i + 1]);
      if (high < 0 || low < 0) break;
      key += static_cast<char>(high * 16 + low);
    }
    if (key.size() != MachineIdHasher::kKeyBytes || got > static_cast<ssize_t>(key.size() * 2 + 1))
      throw std::runtime_error(file.string() + " does not hold a key of " +
                               std::to_string(MachineIdHasher::kKeyBytes * 2) + " hex digits");
    return key;
  }
  const std::string key = MachineIdHasher::NewKey();
  std::string text;
  for (const char byte : key) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(byte));
    text += pair;
  }
  text += '\n';
  // Written whole under another name and then renamed: a crash never leaves a
  // short key behind, which would orphan every claim made under it.
  const std::filesystem::path fresh = file.string() + ".new";
  unlink(fresh.c_str());
  const int out = open(fresh.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (out < 0) throw Failure("cannot create", fresh);
  const bool written =
      write(out, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && fsync(out) == 0;
  close(out);
  if (!written || rename(fresh.c_str(), file.c_str()) != 0) throw Failure("cannot write", file);
  SyncDir(file.parent_path());
  note("new key for machine identifiers in " + file.string() + "; back it up with the database");
  return key;
}

}  // namespace heartpage::server
