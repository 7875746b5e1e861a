#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <random>
#include <regex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

extern char** environ;

namespace heartpage::testing {

// A scratch directory, removed with everything in it.
class TempDir {
 public:
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  TempDir() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("heartpage-" + std::to_string(getpid()) + "-" + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A file's bytes; empty when it cannot be read.
inline std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Starts a program with extra environment entries ("NAME=value"), its output
// on pipes (standard output left as it is when `out_fd` is null).
inline pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env_extra,
                   int* out_fd, int* err_fd) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (out_fd != nullptr) posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);

  std::vector<std::string> env(env_extra);
  for (char** entry = environ; *entry != nullptr; ++entry) env.emplace_back(*entry);
  std::vector<char*> env_ptrs, argv_ptrs;
  for (std::string& entry : env) env_ptrs.push_back(entry.data());
  env_ptrs.push_back(nullptr);
  std::vector<std::string> args(argv);
  for (std::string& arg : args) argv_ptrs.push_back(arg.data());
  argv_ptrs.push_back(nullptr);

  pid_t pid = 0;
  const int rc =
      posix_spawn(&pid, argv_ptrs[0], &actions, nullptr, argv_ptrs.data(), env_ptrs.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  if (rc != 0) {
    close(out[0]);
    close(err[0]);
    throw std::runtime_error("cannot start " + argv[0]);
  }
  if (out_fd != nullptr)
    *out_fd = out[0];
  else
    close(out[0]);
  *err_fd = err[0];
  return pid;
}

struct RunResult {
  int status = -1;  // the exit status; -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// Runs a program to its end and collects both outputs.
inline RunResult RunProgram(const std::vector<std::string>& argv,
                            const std::vector<std::string>& env_extra = {}) {
  int out_fd = -1, err_fd = -1;
  const pid_t pid = Spawn(argv, env_extra, &out_fd, &err_fd);
  RunResult result;
  pollfd fds[] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[] = {&result.out, &result.err};
  int open_fds = 2;
  char buffer[65536];
  while (open_fds > 0 && poll(fds, 2, -1) >= 0) {
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_fds;
      }
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  return result;
}

// A program run for a test, its standard error gathered line by line; it is
// killed when the object goes.
class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& args) {
    int err_fd = -1;
    pid_ = Spawn(args, {}, nullptr, &err_fd);
    reader_ = std::thread([this, err_fd] { ReadLog(err_fd); });
  }

  virtual ~ChildProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
    if (reader_.joinable()) reader_.join();
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  void Signal(int signal) { kill(pid_, signal); }

  // The raw wait status, once the process has ended.
  int Wait() {
    int status = 0;
    if (pid_ > 0) waitpid(pid_, &status, 0);
    pid_ = -1;
    if (reader_.joinable()) reader_.join();
    return status;
  }

  // Blocks until a log line satisfies `match` (true) or the log ends (false).
  // False when the server ends, or says nothing that matches for a long
  // while, which a test must not mistake for a hang of its own.
  bool WaitForLog(const std::function<bool(const std::string&)>& match) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::unique_lock lock(mutex_);
    std::size_t seen = 0;
    for (;;) {
      for (; seen < lines_.size(); ++seen)
        if (match(lines_[seen])) return true;
      if (closed_ || changed_.wait_until(lock, give_up) == std::cv_status::timeout) return false;
    }
  }
  // The usual wait: a line that begins with `start` and ends with `end`
  // (the request and status, then who and what).
  bool WaitForLogLine(std::string_view start, std::string_view end) {
    return WaitForLog(
        [&](const std::string& line) { return line.starts_with(start) && line.ends_with(end); });
  }
  bool WaitForLogWith(std::string_view part) {
    return WaitForLog([&](const std::string& line) { return line.find(part) != line.npos; });
  }

  std::string Log() {
    std::lock_guard lock(mutex_);
    std::string all;
    for (const std::string& line : lines_) all += line + "\n";
    return all;
  }

 private:
  void ReadLog(int fd) {
    std::string pending;
    char chunk[4096];
    for (;;) {
      const ssize_t got = read(fd, chunk, sizeof chunk);
      if (got <= 0) break;
      pending.append(chunk, static_cast<std::size_t>(got));
      std::lock_guard lock(mutex_);
      for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
        lines_.push_back(pending.substr(0, end));
        pending.erase(0, end + 1);
      }
      changed_.notify_all();
    }
    close(fd);
    std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
  }

  pid_t pid_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  bool closed_ = false;
};

// heartpage-server started with `args` (the program first), once it has
// named the loopback address it listens on: `host()` is "127.0.0.1:port".
class ServerProcess : public ChildProcess {
 public:
  explicit ServerProcess(const std::vector<std::string>& args) : ChildProcess(args) {
    const std::regex listening(R"(listening on https?://(127\.0\.0\.1:(\d+))/)");
    std::smatch match;
    WaitForLog([&](const std::string& line) { return std::regex_search(line, match, listening); });
    if (match.empty()) {
      Wait();
      throw std::runtime_error("server did not start: " + Log());
    }
    host_ = match[1];
    port_ = std::stoi(match[2]);
  }
  // Its own data directory, on a free loopback port.
  ServerProcess(const std::string& program, const std::filesystem::path& data_dir)
      : ServerProcess({program, "--data", data_dir.string(), "--listen", "127.0.0.1:0"}) {}

  const std::string& host() const { return host_; }
  int port() const { return port_; }

 private:
  std::string host_;
  int port_ = 0;
};

#if defined(__has_feature)
#define HP_HAS_FEATURE(x) __has_feature(x)
#else
#define HP_HAS_FEATURE(x) 0
#endif
#if defined(__SANITIZE_ADDRESS__) || HP_HAS_FEATURE(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#if defined(__SANITIZE_THREAD__) || HP_HAS_FEATURE(thread_sanitizer)
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif

// The sanitizers' shadow memory counts in a process's resident size too.
constexpr std::size_t kShadowFactor = kAddressSanitizer || kThreadSanitizer ? 4 : 1;
// And the address sanitizer keeps what is freed aside for a while (up to
// 256 MB) to catch its use: memory given back shows only without it.
constexpr std::size_t kQuarantineKb = kAddressSanitizer ? 128 * 1024 : 0;

// The memory a process holds of its own, in KB: what it has resident but
// for pages of files it maps, which the kernel may drop and read again (a
// server reading a mapped database has as much of it resident as it read).
inline std::size_t OwnResidentKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::size_t resident = 0, of_files = 0;
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmRSS:")) resident = std::stoul(line.substr(6));
    if (line.starts_with("RssFile:")) of_files = std::stoul(line.substr(8));
  }
  return resident - std::min(resident, of_files);
}

}  // namespace heartpage::testing
