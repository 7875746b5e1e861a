#pragma once

// Runs the real heartpage-server binary on a free loopback port and talks to
// it over plain sockets, so the tests see exactly what a client sees.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sqlite3.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/server_process.h"
#include "text/value_encoding.h"

namespace heartpage::server::testing {

using ScratchDir = heartpage::testing::TempDir;
using heartpage::testing::ChildProcess;
using heartpage::testing::OwnResidentKb;
using heartpage::testing::kQuarantineKb;
using heartpage::testing::kShadowFactor;

// The real heartpage-server on a free loopback port.
class ServerProcess : public heartpage::testing::ServerProcess {
 public:
  // `descriptor_limit`: when not 0, the server runs with at most so many
  // open descriptors (soft and hard limit).
  ServerProcess(const std::filesystem::path& data, std::vector<std::string> extra = {},
                int descriptor_limit = 0)
      : heartpage::testing::ServerProcess(Arguments(data, std::move(extra), descriptor_limit)) {}

 private:
  static std::vector<std::string> Arguments(const std::filesystem::path& data,
                                            std::vector<std::string> extra, int descriptor_limit) {
    // No data folder: the database is named among the extra arguments.
    std::vector<std::string> args = {HEARTPAGE_SERVER_BINARY, "--listen", "127.0.0.1:0"};
    if (!data.empty()) args.insert(args.end(), {"--data", data.string()});
    args.insert(args.end(), extra.begin(), extra.end());
    if (descriptor_limit > 0)
      args.insert(args.begin(),
                  {"/bin/sh", "-c",
                   "ulimit -n " + std::to_string(descriptor_limit) + " && exec \"$0\" \"$@\""});
    return args;
  }
};

// For tests that send far more claims or stores from one address than any
// client would; the limits themselves are tested on their own.
inline const std::vector<std::string> kNoRateLimits = {
    "--claims-per-minute", "0", "--stores-per-minute", "0", "--lookups-per-minute", "0"};

struct HttpResponse {
  int status = 0;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;

  std::string Header(const std::string& name) const {
    const auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
  }
};

// A blocking connection to the server on loopback `port` from `source`
// (127.x.y.z), so that one test can be many clients; -1 when it fails.
inline int ConnectFrom(int port, const std::string& source) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in from{};
  from.sin_family = AF_INET;
  inet_pton(AF_INET, source.c_str(), &from.sin_addr);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
      connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

// One keep-alive connection to the server; a subclass may put TLS between.
class HttpConnection {
 public:
  explicit HttpConnection(int port, const std::string& source = "127.0.0.1")
      : fd_(ConnectFrom(port, source)) {
    if (fd_ < 0) throw std::runtime_error("cannot connect to the server");
    const int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  virtual ~HttpConnection() {
    if (fd_ >= 0) close(fd_);
  }
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  // False when the server has closed the connection.
  bool Send(std::string_view bytes) {
    while (!bytes.empty()) {
      const long sent = Transmit(bytes.data(), bytes.size());
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

  // Reads give up after `seconds`, and TimedOut() says so.
  void LimitWaiting(int seconds) {
    const timeval limit{seconds, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  }
  bool TimedOut() const { return timed_out_; }
  // Bytes sent but not yet taken by the server.
  int Unsent() const {
    int unsent = 0;
    ioctl(fd_, TIOCOUTQ, &unsent);
    return unsent;
  }
  // From now on reads take at most `piece` bytes at a time and call
  // `between` after each: a reader as slow as a test likes.
  void Pace(std::size_t piece, std::function<void()> between) {
    const int buffer = static_cast<int>(piece);
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    piece_ = piece;
    between_ = std::move(between);
  }

 protected:
  int fd() const { return fd_; }
  virtual long Transmit(const char* data, std::size_t size) {
    return send(fd_, data, size, MSG_NOSIGNAL);
  }
  virtual long Receive(char* data, std::size_t size) { return recv(fd_, data, size, 0); }

 private:
  bool Fill() {
    char chunk[65536];
    const long got = Receive(chunk, std::min(piece_, sizeof chunk));
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) timed_out_ = true;
    if (got <= 0) return false;
    buffer_.append(chunk, static_cast<std::size_t>(got));
    if (between_) between_();
    return true;
  }

  int fd_ = -1;
  std::string buffer_;
  bool timed_out_ = false;
  std::size_t piece_ = 65536;
  std::function<void()> between_;
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
inline HttpResponse Exchange(int port, const std::string& request, bool head_request = false,
                             const std::string& source = "127.0.0.1") {
  HttpConnection connection(port, source);
  connection.Send(request);
  return connection.Read(head_request).value_or(HttpResponse{});
}

inline HttpResponse Post(int port, std::string_view body) {
  return Exchange(port, PostRequest(body));
}

inline HttpResponse Get(int port, std::string_view target, std::string_view extra_headers = "") {
  return Exchange(port, GetRequest(target, extra_headers));
}

// The endpoint bodies as the client composes them.
inline std::string Quoted(std::string_view value) {
  std::string out;
  for (const char c : value) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}
inline std::string QueryBody(std::string_view sql) {
  return "zc=49&sql=" + EncodeValue(sql);
}
inline std::string ClaimBody(std::string_view machine, std::string_view name) {
  return "zc=50&sql=" + EncodeValue("insert into 免费 (硬盘ID,文件名) values ('" + Quoted(machine) +
                                    "', '" + Quoted(name) + "')");
}
inline std::string StoreBody(std::string_view machine, std::string_view name,
                             std::string_view page) {
  return "zc=52&File=" + EncodeValue(name) + "&ID=" + EncodeValue(machine) +
         "&data=" + EncodeValue(page);
}
inline std::string PreviewBody(std::string_view machine, std::string_view page) {
  return "zc=53&ID=" + EncodeValue(machine) + "&data=" + EncodeValue(page);
}
inline std::string NameLookup(std::string_view name) {
  return QueryBody("select * from 免费 where 文件名='" + Quoted(name) + "'");
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
