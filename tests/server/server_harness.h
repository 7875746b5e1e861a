#pragma once

// Runs the real heartpage-server binary on a free loopback port and talks to
// it over plain sockets, so the tests see exactly what a client sees.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace heartpage::server::testing {

class ScratchDir {
 public:
  ScratchDir() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("heartpage-server-test-" + std::to_string(getpid()) + "-" + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

class ServerProcess {
 public:
  ServerProcess(const std::filesystem::path& data, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {HEARTPAGE_SERVER_BINARY, "--data", data.string(), "--listen",
                                     "127.0.0.1:0"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    int err[2];
    if (pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(err[1]);
    if (rc != 0) {
      close(err[0]);
      throw std::runtime_error("cannot start " + args[0]);
    }
    reader_ = std::thread([this, fd = err[0]] { ReadLog(fd); });
    const std::regex listening(R"(listening on http://127\.0\.0\.1:(\d+)/)");
    std::smatch match;
    WaitForLog([&](const std::string& line) { return std::regex_search(line, match, listening); });
    if (match.empty()) {
      Wait();
      throw std::runtime_error("server did not start: " + Log());
    }
    port_ = std::stoi(match[1]);
  }

  ~ServerProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
    if (reader_.joinable()) reader_.join();
  }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  int port() const { return port_; }
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
  bool WaitForLog(const std::function<bool(const std::string&)>& match) {
    std::unique_lock lock(mutex_);
    std::size_t seen = 0;
    for (;;) {
      for (; seen < lines_.size(); ++seen)
        if (match(lines_[seen])) return true;
      if (closed_) return false;
      changed_.wait(lock);
    }
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
  int port_ = 0;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  bool closed_ = false;
};

struct HttpResponse {
  int status = 0;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;

  std::string Header(const std::string& name) const {
    const auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
  }
};

// One keep-alive connection to the server.
class HttpConnection {
 public:
  explicit HttpConnection(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
      throw std::runtime_error("cannot connect to the server");
    const int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  ~HttpConnection() {
    if (fd_ >= 0) close(fd_);
  }
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  // False when the server has closed the connection.
  bool Send(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (sent <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
  }
  void ShutdownWrite() { shutdown(fd_, SHUT_WR); }

  // Nothing when the connection ends before a whole response arrived.
  std::optional<HttpResponse> Read(bool head_request = false) {
    std::size_t header_end;
    while ((header_end = buffer_.find("\r\n\r\n")) == std::string::npos)
      if (!Fill()) return std::nullopt;
    HttpResponse response;
    const std::string head = buffer_.substr(0, header_end);
    buffer_.erase(0, header_end + 4);
    std::size_t line_end = head.find("\r\n");
    const std::string status_line = head.substr(0, line_end);
    if (status_line.size() < 12) return std::nullopt;
    response.status = std::stoi(status_line.substr(9, 3));
    while (line_end != std::string::npos) {
      const std::size_t start = line_end + 2;
      line_end = head.find("\r\n", start);
      const std::string line = head.substr(start, line_end - start);
      const std::size_t colon = line.find(':');
      if (colon == std::string::npos) continue;
      std::string name = line.substr(0, colon);
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      std::string value = line.substr(colon + 1);
      value.erase(0, value.find_first_not_of(' '));
      response.headers[name] = value;
    }
    std::size_t length = 0;
    if (!head_request && response.status != 304 && response.status != 100)
      length = response.headers.contains("content-length")
                   ? std::stoul(response.headers["content-length"])
                   : 0;
    while (buffer_.size() < length)
      if (!Fill()) return std::nullopt;
    response.body = buffer_.substr(0, length);
    buffer_.erase(0, length);
    return response;
  }

  // True when the server closed the connection without sending anything more.
  bool ClosedByServer() { return buffer_.empty() && !Fill(); }

 private:
  bool Fill() {
    char chunk[65536];
    const ssize_t got = recv(fd_, chunk, sizeof chunk, 0);
    if (got <= 0) return false;
    buffer_.append(chunk, static_cast<std::size_t>(got));
    return true;
  }

  int fd_ = -1;
  std::string buffer_;
};

inline std::string PostRequest(std::string_view body, std::string_view path = "/asp/index.asp") {
  return "POST " + std::string(path) +
         " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
         "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
}

inline std::string GetRequest(std::string_view target, std::string_view extra_headers = "",
                              std::string_view method = "GET") {
  return std::string(method) + " " + std::string(target) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
         std::string(extra_headers) + "\r\n";
}

// One request on a fresh connection; a status of 0 when no answer came.
inline HttpResponse Exchange(int port, const std::string& request, bool head_request = false) {
  HttpConnection connection(port);
  connection.Send(request);
  return connection.Read(head_request).value_or(HttpResponse{});
}

inline HttpResponse Post(int port, std::string_view body) {
  return Exchange(port, PostRequest(body));
}

inline HttpResponse Get(int port, std::string_view target, std::string_view extra_headers = "") {
  return Exchange(port, GetRequest(target, extra_headers));
}

// Everything the server keeps, as text: claims, and pages by size and hash.
inline std::string DumpDatabase(const std::filesystem::path& data) {
  sqlite3* db = nullptr;
  const std::string file = (data / "heartpage.sqlite3").string();
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return "<cannot open>";
  }
  std::string dump;
  const auto collect = [&](const char* sql) {
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    while (sqlite3_step(statement) == SQLITE_ROW) {
      for (int i = 0; i < sqlite3_column_count(statement); ++i) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
        dump += text != nullptr ? text : "NULL";
        dump += '|';
      }
      dump += '\n';
    }
    sqlite3_finalize(statement);
  };
  collect("SELECT * FROM 系统设置");
  collect("SELECT 硬盘ID摘要, 文件名 FROM 免费 ORDER BY rowid");
  collect("SELECT 文件名, length(内容), 标签 FROM 页面 ORDER BY 文件名");
  sqlite3_close(db);
  return dump;
}

}  // namespace heartpage::server::testing
