#pragma once

// A loopback web server with one address of each sort a page's fields may
// lead to: a picture, music that refuses HEAD, a missing file, an HTML page,
// a redirect, and an address that takes the request and never answers.
#include <optional>
#include <string>

#include "tests/support/loopback_listener.h"

namespace heartpage::testing {

class AddressServer {
 public:
  AddressServer() : listener_([](const std::string& request) { return Answer(request); }) {}

  // "http://127.0.0.1:PORT/good.jpg" and the like.
  std::string Url(const std::string& path) const { return listener_.Address(path); }

 private:
  static std::string Head(const std::string& status, const std::string& type, std::size_t length) {
    return "HTTP/1.1 " + status + "\r\nContent-Type: " + type +
           "\r\nContent-Length: " + std::to_string(length) + "\r\nConnection: close\r\n\r\n";
  }

  static std::optional<std::string> Answer(const std::string& request) {
    const bool head = request.starts_with("HEAD ");
    const std::string path = request.substr(
        request.find(' ') + 1, request.find(' ', request.find(' ') + 1) - request.find(' ') - 1);
    const auto with_body = [head](const std::string& status, const std::string& type,
                                  const std::string& body) {
      return Head(status, type, body.size()) + (head ? "" : body);
    };
    if (path == "/good.jpg") return with_body("200 OK", "image/jpeg", std::string(64, 'j'));
    if (path == "/song.mp3") {
      // Like many file hosts: HEAD refused, a ranged GET answered in part.
      if (head) return Head("405 Method Not Allowed", "text/plain", 0);
      if (request.find("Range: bytes=0-0") == std::string::npos)
        return Head("400 Bad Request", "text/plain", 0);
      return with_body("206 Partial Content", "audio/mpeg", "m");
    }
    if (path == "/clip.mp4") return with_body("200 OK", "video/mp4", std::string(64, 'v'));
    if (path == "/moved.jpg")
      return "HTTP/1.1 302 Found\r\nLocation: /good.jpg\r\nContent-Length: 0\r\n"
             "Connection: close\r\n\r\n";
    if (path == "/page.html") return with_body("200 OK", "text/html; charset=utf-8", "<p>hi</p>");
    if (path == "/hang") return std::nullopt;
    return with_body("404 Not Found", "text/html", "missing");
  }

  LoopbackListener listener_;
};

}  // namespace heartpage::testing
