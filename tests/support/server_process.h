#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace heartpage::testing {

// A scratch directory, removed with everything in it.
class TempDir {
 public:
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

// Starts a program with extra environment entries ("NAME=value"), its output
// on pipes.
inline pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env_extra,
                   int* out_fd, int* err_fd) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
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
  *out_fd = out[0];
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

// heartpage-server on a free loopback port with its own data directory,
// stopped with SIGTERM at the end. `host()` is its "127.0.0.1:port".
class ServerProcess {
 public:
  ServerProcess(const std::string& program, const std::filesystem::path& data_dir) {
    int out_fd = -1;
    pid_ = Spawn({program, "--data", data_dir.string(), "--listen", "127.0.0.1:0"}, {}, &out_fd,
                 &err_fd_);
    close(out_fd);
    // The server names its address on its first line; everything after it
    // is the request log, which is read and dropped so the pipe never fills.
    std::string seen;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    constexpr std::string_view kMarker = "listening on http://";
    std::size_t at = std::string::npos;
    while ((at = seen.find(kMarker)) == std::string::npos ||
           seen.find('/', at + kMarker.size()) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd fd{err_fd_, POLLIN, 0};
      char buffer[4096];
      ssize_t n = 0;
      if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0 ||
          (n = read(err_fd_, buffer, sizeof buffer)) <= 0) {
        Stop();
        throw std::runtime_error("heartpage-server did not start: " + seen);
      }
      seen.append(buffer, static_cast<std::size_t>(n));
    }
    const std::size_t start = at + kMarker.size();
    host_ = seen.substr(start, seen.find('/', start) - start);
    drain_ = std::thread([fd = err_fd_] {
      char buffer[4096];
      while (read(fd, buffer, sizeof buffer) > 0) {
      }
    });
  }
  ~ServerProcess() { Stop(); }

  const std::string& host() const { return host_; }

 private:
  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    if (drain_.joinable()) drain_.join();
    if (err_fd_ >= 0) close(err_fd_);
    err_fd_ = -1;
  }

  pid_t pid_ = -1;
  int err_fd_ = -1;
  std::string host_;
  std::thread drain_;
};

}  // namespace heartpage::testing
