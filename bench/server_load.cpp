// Load for heartpage-server, driven by bench/server_vs_nginx.sh:
//   server_load seed PORT NAME SIZE OUT   claim NAME, store a SIZE-byte page,
//                                         write the page's bytes to OUT
//   server_load stores PORT COUNT SIZE CONNECTIONS
//                                         COUNT stores of SIZE bytes over
//                                         CONNECTIONS keep-alive connections;
//                                         prints stores per second
//   server_load publishes PORT COUNT SIZE
//                                         COUNT publishes as the program makes
//                                         them (name lookup, claim, store of
//                                         SIZE bytes), one after the other on
//                                         one connection; prints the median
//                                         and the 99th percentile in ms
//   server_load idle PORT COUNT [AFTER]   keeps COUNT connections open that
//                                         send nothing, from 40 to a source
//                                         address (127.0.10.x), reopening
//                                         those the server closes (AFTER
//                                         seconds later; default at once);
//                                         until killed
//   server_load slow-bodies PORT COUNT SIZE
//                                         keeps COUNT uploads of SIZE bytes
//                                         going, each from its own address
//                                         (127.0.11.x, then 127.0.12.x, …,
//                                         250 to each): half the body at once,
//                                         then 2.5 KB a second, never the end;
//                                         a refused one tries again after 5 s;
//                                         until killed
//   server_load trickles PORT COUNT SIZE RATE ADDRESSES
//                                         keeps COUNT bodies declaring SIZE
//                                         bytes going from ADDRESSES addresses
//                                         (127.0.13.x), each sending RATE
//                                         bytes a second from the start, never
//                                         the end; until killed
//   server_load media-seed PORT COUNT SIZE OUT
//                                         sends COUNT files of SIZE bytes from
//                                         4 addresses, writes their paths to OUT
//   server_load slow-readers PORT COUNT PATHS [RATE ADDRESSES]
//                                         keeps COUNT GETs of the files listed
//                                         in PATHS going, each reading a byte
//                                         every 5 s from 16 addresses
//                                         (127.0.16.x), or RATE bytes a second
//                                         from ADDRESSES; until killed
//   server_load slow-media PORT COUNT SIZE RATE ADDRESSES
//                                         keeps COUNT files of SIZE bytes
//                                         coming at RATE bytes a second from
//                                         ADDRESSES addresses (127.0.14.x);
//                                         until killed
//   server_load gates PORT COUNT        a page of 20 KB three ways: open,
//                                         held until 2030, behind a code; the
//                                         median and p99 in ms of COUNT GETs of
//                                         each on one keep-alive connection,
//                                         then of COUNT unlocks with the right
//                                         code, each from a fresh address
//                                         (127.0.30.x on), a line apiece
//   server_load codes-seed PORT PAGES     publishes PAGES pages behind a code
//                                         (guess0, guess1, …)
//   server_load guessers PORT PAGES ADDRESSES
//                                         from ADDRESSES addresses
//                                         (127.0.40.x), two keep-alive
//                                         connections each, tries wrong codes
//                                         at them one after the other, as fast
//                                         as the answers come; until killed
//   server_load pages-seed PORT COUNT SIZE
//                                         stores COUNT pages of SIZE bytes
//                                         (cycle0, cycle1, …), each from an
//                                         address of its own (127.0.17.x)
//   server_load cycle PORT COUNT CONNECTIONS
//                                         CONNECTIONS keep-alive connections
//                                         from one address (127.0.18.1) GET
//                                         those COUNT pages in turn, as a
//                                         browser asks (gzip accepted), each
//                                         taking its whole answer; until killed
//   server_load probe PORT KIND COUNT [PATH]
//                                         COUNT fresh clients, each on a new
//                                         connection from a new address
//                                         (127.0.20.x on): KIND store (claim
//                                         and store a 20 KB page), media (send
//                                         a 1 KB picture), lookup (what a
//                                         machine identifier owns) or get
//                                         (PATH); prints the share that
//                                         succeeded (%), the p99 and the
//                                         median in ms, a failure counting as
//                                         2 s
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <thread>
#include <vector>

#include "pages/builders.h"
#include "pages/styles.h"
#include "pages/templates.h"
#include "protocol/host.h"
#include "tests/support/server_harness.h"
#include "text/gbk.h"
#include "text/value_encoding.h"

namespace {

using heartpage::server::testing::ConnectFrom;
using heartpage::server::testing::HttpConnection;
using heartpage::server::testing::PostRequest;

// Style 1 as the program builds it for the server at 127.0.0.1:`port` (the
// server takes no other page), the words after her name grown to make the
// page about `size` bytes in GBK.
std::string Page(int port, std::size_t size) {
  using namespace heartpage;
  const HostAddress host = ParseHost("127.0.0.1:" + std::to_string(port));
  FieldMap fields = FieldMap::Defaults(GetStyle(1));
  const std::string field = GetStyle(1).rows.at(1).Name();
  const std::size_t base = ToGbk(BuildPage(1, fields, host)).size();
  std::string words = fields.values[field];
  // Counted a line at a time: pages of megabytes are asked for too.
  for (std::size_t have = base + ToGbk(words).size(), line = 0; have < size; ++line) {
    const std::string more = "第" + std::to_string(line) + "行：亲爱的，今天也想你。I love you. ";
    have += ToGbk(more).size();
    words += more;
  }
  fields.values[field] = words;
  return BuildPage(1, fields, host);
}

// The same with its first text field alone grown, ASCII words, to `size`
// bytes: a page of megabytes the check reads in its budget.
std::string LargePage(int port, std::size_t size) {
  using namespace heartpage;
  const Style& style = GetStyle(1);
  FieldMap fields = FieldMap::Defaults(style);
  const auto text = std::find_if(style.rows.begin(), style.rows.end(),
                                 [](const FieldRow& row) { return row.kind == FieldKind::kText; });
  const std::size_t base =
      ToGbk(BuildPage(1, fields, ParseHost("127.0.0.1:" + std::to_string(port)))).size();
  std::string words;
  for (int line = 0; base + words.size() < size; ++line)
    words += "Line " + std::to_string(line) + ": I love you, today as every day. ";
  fields.values[text->Name()] = words;
  return BuildPage(1, fields, ParseHost("127.0.0.1:" + std::to_string(port)));
}

std::string ClaimBody(const std::string& machine, const std::string& name) {
  return "zc=50&sql=" + heartpage::EncodeValue("insert into 免费 (硬盘ID,文件名) values ('" +
                                               machine + "', '" + name + "')");
}

std::string StoreBody(const std::string& machine, const std::string& name,
                      const std::string& page) {
  return "zc=52&File=" + heartpage::EncodeValue(name) + "&ID=" + heartpage::EncodeValue(machine) +
         "&data=" + heartpage::EncodeValue(page);
}

int Status(HttpConnection& connection, const std::string& body) {
  if (!connection.Send(PostRequest(body))) return 0;
  const auto response = connection.Read();
  return response ? response->status : 0;
}

int Seed(int port, const std::string& name, std::size_t size, const std::string& out) {
  const std::string page = Page(port, size);
  HttpConnection connection(port);
  const int claimed = Status(connection, ClaimBody("bench", name));
  if (claimed != 200 && claimed != 409) return std::fprintf(stderr, "claim: %d\n", claimed), 1;
  if (const int stored = Status(connection, StoreBody("bench", name, page)); stored != 200)
    return std::fprintf(stderr, "store: %d\n", stored), 1;
  std::ofstream(out, std::ios::binary) << heartpage::ToGbk(page);
  return 0;
}

int Stores(int port, int count, std::size_t size, int connections) {
  const std::string page = Page(port, size);
  std::vector<std::string> bodies;
  {
    HttpConnection connection(port);
    for (int c = 0; c < connections; ++c) {
      const std::string name = "store" + std::to_string(c);
      Status(connection, ClaimBody("bench", name));
      bodies.push_back(StoreBody("bench", name, page));
    }
  }
  std::atomic<int> failures = 0;
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (int c = 0; c < connections; ++c) {
    threads.emplace_back([&, c] {
      HttpConnection connection(port);
      for (int i = c; i < count; i += connections)
        if (Status(connection, bodies[c]) != 200) ++failures;
    });
  }
  for (std::thread& thread : threads) thread.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.0f\n", count / seconds);
  return failures == 0 ? 0 : 1;
}

int Publishes(int port, int count, std::size_t size) {
  const std::string page = Page(port, size);
  const std::string run =
      std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  HttpConnection connection(port);
  std::vector<double> milliseconds;
  for (int i = 0; i < count; ++i) {
    const std::string name = "p" + run.substr(run.size() - 8) + "x" + std::to_string(i);
    const auto start = std::chrono::steady_clock::now();
    const bool ok =
        Status(connection, "zc=49&sql=" + heartpage::EncodeValue(
                                              "select * from 免费 where 文件名='" + name + "'")) ==
            200 &&
        Status(connection, ClaimBody("bench", name)) == 200 &&
        Status(connection, StoreBody("bench", name, page)) == 200;
    if (!ok) return std::fprintf(stderr, "publish %d failed\n", i), 1;
    milliseconds.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::sort(milliseconds.begin(), milliseconds.end());
  std::printf("%.2f %.2f\n", milliseconds[milliseconds.size() / 2],
              milliseconds[milliseconds.size() * 99 / 100]);
  return 0;
}

// Whether the server has answered or closed the connection.
bool Answered(int fd) {
  pollfd poll_fd{fd, POLLIN, 0};
  return poll(&poll_fd, 1, 0) > 0;
}

int Idle(int port, int count, int reopen_after) {
  using Clock = std::chrono::steady_clock;
  std::vector<int> fds(static_cast<std::size_t>(count), -1);
  std::vector<Clock::time_point> again(fds.size());
  std::vector<pollfd> polled(fds.size());
  for (;;) {
    const Clock::time_point now = Clock::now();
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i] < 0 && now >= again[i])
        fds[i] = ConnectFrom(port, "127.0.10." + std::to_string(i / 40 + 1));
      // A negative descriptor is left out of the poll.
      polled[i] = {fds[i], POLLIN, 0};
    }
    if (poll(polled.data(), polled.size(), reopen_after > 0 ? 100 : 1000) <= 0) continue;
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (polled[i].revents == 0) continue;
      close(fds[i]);
      fds[i] = -1;
      again[i] = Clock::now() + std::chrono::seconds(reopen_after);
    }
  }
}

int SlowBodies(int port, int count, std::size_t size) {
  using Clock = std::chrono::steady_clock;
  struct Upload {
    int fd = -1;
    std::size_t sent = 0;
    Clock::time_point again{};
  };
  std::vector<Upload> uploads(static_cast<std::size_t>(count));
  const std::string header =
      "POST /asp/index.asp HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(size) +
      "\r\n\r\n";
  const std::string burst(512 * 1024, '7');
  constexpr auto kTick = std::chrono::milliseconds(100);
  constexpr std::size_t kTrickle = 256;  // a tick: 2.5 KB a second
  for (;;) {
    const Clock::time_point now = Clock::now();
    for (std::size_t i = 0; i < uploads.size(); ++i) {
      Upload& upload = uploads[i];
      if (upload.fd >= 0 && Answered(upload.fd)) {
        close(upload.fd);
        upload = {-1, 0, now + std::chrono::seconds(5)};
      }
      if (upload.fd < 0 && now >= upload.again) {
        upload.fd = ConnectFrom(
            port, "127.0." + std::to_string(11 + i / 250) + "." + std::to_string(i % 250 + 1));
        upload.sent = 0;
        if (upload.fd >= 0) send(upload.fd, header.data(), header.size(), MSG_NOSIGNAL);
        continue;  // the server may refuse it as the header arrives
      }
      if (upload.fd < 0) continue;
      const std::size_t want = upload.sent < size / 2
                                   ? std::min(burst.size(), size / 2 - upload.sent)
                                   : std::min(kTrickle, size - 1 - upload.sent);
      const ssize_t sent = send(upload.fd, burst.data(), want, MSG_DONTWAIT | MSG_NOSIGNAL);
      if (sent > 0) upload.sent += static_cast<std::size_t>(sent);
    }
    std::this_thread::sleep_until(now + kTick);
  }
}

using Clock = std::chrono::steady_clock;

std::string Address(int block, std::size_t i) {
  return "127.0." + std::to_string(block) + "." + std::to_string(i + 1);
}

std::string MediaHeader(const std::string& machine, std::size_t size) {
  return "POST /api/media HTTP/1.1\r\nHost: x\r\nContent-Type: application/octet-stream\r\n"
         "X-Machine-Id: " +
         heartpage::EncodeValue(machine) + "\r\nContent-Length: " + std::to_string(size) +
         "\r\n\r\n";
}

std::string Png(std::size_t size, char fill) {
  std::string bytes = "\x89PNG\r\n\x1A\n";
  bytes.resize(size, fill);
  return bytes;
}

// Keeps `count` requests going that send `header` and then `rate` bytes a
// second, never the end, each from one of `addresses` addresses of `block`;
// those the server answers or closes start again 5 s later.
int Trickle(int port, int count, const std::function<std::string(int)>& header, std::size_t rate,
            int addresses, int block) {
  struct Sender {
    int fd = -1;
    double owed = 0;
    Clock::time_point again{};
  };
  std::vector<Sender> senders(static_cast<std::size_t>(count));
  const std::string filler(64 * 1024, '7');
  constexpr auto kTick = std::chrono::milliseconds(100);
  for (;;) {
    const Clock::time_point now = Clock::now();
    for (std::size_t i = 0; i < senders.size(); ++i) {
      Sender& sender = senders[i];
      if (sender.fd >= 0 && Answered(sender.fd)) {
        close(sender.fd);
        sender = {-1, 0, now + std::chrono::seconds(5)};
      }
      if (sender.fd < 0 && now >= sender.again) {
        sender.fd = ConnectFrom(port, Address(block, i % static_cast<std::size_t>(addresses)));
        const std::string head = header(static_cast<int>(i));
        if (sender.fd >= 0) send(sender.fd, head.data(), head.size(), MSG_NOSIGNAL);
        sender.owed = 0;
        continue;
      }
      if (sender.fd < 0) continue;
      sender.owed += static_cast<double>(rate) / 10;
      const auto want = std::min(filler.size(), static_cast<std::size_t>(sender.owed));
      const ssize_t sent = send(sender.fd, filler.data(), want, MSG_DONTWAIT | MSG_NOSIGNAL);
      if (sent > 0) sender.owed -= static_cast<double>(sent);
    }
    std::this_thread::sleep_until(now + kTick);
  }
}

int MediaSeed(int port, int count, std::size_t size, const std::string& out) {
  std::ofstream paths(out);
  for (int i = 0; i < count; ++i) {
    HttpConnection connection(port, Address(15, static_cast<std::size_t>(i % 4)));
    const std::string machine = "seed" + std::to_string(i);
    if (!connection.Send(MediaHeader(machine, size) + Png(size, static_cast<char>('a' + i))))
      return 1;
    const auto answer = connection.Read();
    if (!answer || answer->status != 200)
      return std::fprintf(stderr, "file %d: %d\n", i, answer ? answer->status : 0), 1;
    paths << answer->body.substr(answer->body.find("/media/")) << "\n";
  }
  return 0;
}

int SlowReaders(int port, int count, const std::string& list, std::size_t rate = 0,
                int addresses = 16) {
  std::vector<std::string> paths;
  std::ifstream in(list);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) paths.push_back(line);
  if (paths.empty() || addresses < 1) return 1;
  std::vector<int> fds(static_cast<std::size_t>(count), -1);
  std::vector<double> owed(fds.size(), 0);
  // A byte every 5 s, or RATE a second a tenth of a second at a time.
  const auto tick = rate == 0 ? std::chrono::milliseconds(5000) : std::chrono::milliseconds(100);
  std::vector<char> sink(64 * 1024);
  for (;;) {
    const Clock::time_point now = Clock::now();
    for (std::size_t i = 0; i < fds.size(); ++i) {
      owed[i] += rate == 0 ? 1 : static_cast<double>(rate) / 10;
      const std::size_t want = std::min(sink.size(), static_cast<std::size_t>(owed[i]));
      const ssize_t got =
          fds[i] >= 0 && want > 0 ? recv(fds[i], sink.data(), want, MSG_DONTWAIT) : -1;
      if (got > 0) owed[i] -= static_cast<double>(got);
      if (fds[i] >= 0 && (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK))) {
        close(fds[i]);
        fds[i] = -1;
      }
      if (fds[i] >= 0) continue;
      owed[i] = 0;
      fds[i] = ConnectFrom(port, Address(16, i % static_cast<std::size_t>(addresses)));
      const int smallest = 1;
      if (fds[i] >= 0) setsockopt(fds[i], SOL_SOCKET, SO_RCVBUF, &smallest, sizeof smallest);
      const std::string request = "GET " + paths[i % paths.size()] + " HTTP/1.1\r\nHost: x\r\n\r\n";
      if (fds[i] >= 0) send(fds[i], request.data(), request.size(), MSG_NOSIGNAL);
    }
    std::this_thread::sleep_until(now + tick);
  }
}

int PagesSeed(int port, int count, std::size_t size) {
  const std::string page = LargePage(port, size);
  for (int i = 0; i < count; ++i) {
    HttpConnection connection(port, Address(17, static_cast<std::size_t>(i)));
    const std::string name = "cycle" + std::to_string(i);
    const int claimed = Status(connection, ClaimBody("cycler" + std::to_string(i), name));
    if (claimed != 200 && claimed != 409) return std::fprintf(stderr, "claim: %d\n", claimed), 1;
    if (const int stored = Status(connection, StoreBody("cycler" + std::to_string(i), name, page));
        stored != 200)
      return std::fprintf(stderr, "store: %d\n", stored), 1;
  }
  return 0;
}

int Cycle(int port, int count, int connections) {
  std::vector<std::thread> threads;
  for (int c = 0; c < connections; ++c) {
    threads.emplace_back([=] {
      for (int i = c;; i = (i + 1) % count) {
        try {
          HttpConnection connection(port, Address(18, 0));
          for (;; i = (i + 1) % count) {
            const std::string request = "GET /Test/cycle" + std::to_string(i) +
                                        " HTTP/1.1\r\nHost: x\r\nAccept-Encoding: gzip\r\n\r\n";
            if (!connection.Send(request) || !connection.Read()) break;
          }
        } catch (const std::exception&) {
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  return 0;
}

int Probe(int port, const std::string& kind, int count, const std::string& path) {
  const std::string page = Page(port, 20 * 1024);
  std::vector<double> milliseconds;
  int served = 0;
  for (int i = 0; i < count; ++i) {
    const auto start = Clock::now();
    bool ok = false;
    try {
      HttpConnection connection(port, Address(20 + i / 250, static_cast<std::size_t>(i % 250)));
      connection.LimitWaiting(2);
      const std::string name = "probe" + std::to_string(i);
      if (kind == "store") {
        const int claimed = Status(connection, ClaimBody("probe", name));
        ok = (claimed == 200 || claimed == 409) &&
             Status(connection, StoreBody("probe", name, page)) == 200;
      } else if (kind == "lookup") {
        ok = Status(connection,
                    "zc=49&sql=" +
                        heartpage::EncodeValue("select * from 免费 where 硬盘ID='probe'")) == 200;
      } else if (kind == "media") {
        ok = connection.Send(MediaHeader(name, 1024) + Png(1024, static_cast<char>(i))) &&
             connection.Read().value_or(heartpage::server::testing::HttpResponse{}).status == 200;
      } else {
        ok = connection.Send("GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n") &&
             connection.Read().value_or(heartpage::server::testing::HttpResponse{}).status == 200;
      }
    } catch (const std::exception&) {
    }
    const double took = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    served += ok ? 1 : 0;
    milliseconds.push_back(ok ? took : 2000);
  }
  std::sort(milliseconds.begin(), milliseconds.end());
  const std::size_t at = (milliseconds.size() * 99 + 99) / 100 - 1;
  std::printf("%.1f %.1f %.1f\n", 100.0 * served / count, milliseconds[at],
              milliseconds[milliseconds.size() / 2]);
  return 0;
}

// Median and 99th percentile of `count` runs of `once`, which answers
// whether it succeeded; a line "NAME median p99" in ms.
bool Timed(const char* name, int count, const std::function<bool(int)>& once) {
  std::vector<double> milliseconds;
  for (int i = 0; i < count; ++i) {
    const auto start = std::chrono::steady_clock::now();
    if (!once(i)) return std::fprintf(stderr, "%s %d failed\n", name, i), false;
    milliseconds.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::sort(milliseconds.begin(), milliseconds.end());
  std::printf("%s %.3f %.3f\n", name, milliseconds[milliseconds.size() / 2],
              milliseconds[milliseconds.size() * 99 / 100]);
  return true;
}

int Gates(int port, int count) {
  const std::string page = Page(port, 20 * 1024);
  const std::string run =
      std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()).substr(10);
  const std::string open = "o" + run, later = "l" + run, locked = "c" + run;
  {
    HttpConnection connection(port);
    const std::string settings[] = {
        "", "&opens=" + heartpage::EncodeValue("2030-02-14 12:00:00"),
        "&code=" + heartpage::EncodeValue("520") + "&hint=" + heartpage::EncodeValue("那一天")};
    const std::string* name_of[] = {&open, &later, &locked};
    for (int i = 0; i < 3; ++i)
      if (Status(connection, ClaimBody("bench", *name_of[i])) != 200 ||
          Status(connection, StoreBody("bench", *name_of[i], page) + settings[i]) != 200)
        return std::fprintf(stderr, "publishing %s failed\n", name_of[i]->c_str()), 1;
  }
  HttpConnection connection(port);
  const auto get = [&](const std::string& name, int status) {
    return [&connection, name, status](int) {
      if (!connection.Send("GET /Test/" + name + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"))
        return false;
      const auto answer = connection.Read();
      return answer && answer->status == status;
    };
  };
  std::string cookie;
  const bool ok =
      Timed("plain-get", count, get(open, 200)) && Timed("held-get", count, get(later, 200)) &&
      Timed("asking-get", count, get(locked, 200)) && Timed("unlock", count, [&](int i) {
        const std::string body = "code=520";
        HttpConnection from(
            port, "127.0." + std::to_string(30 + i / 250) + "." + std::to_string(i % 250 + 1));
        if (!from.Send("POST /api/unlock/" + locked +
                       " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
                       "application/x-www-form-urlencoded\r\nContent-Length: " +
                       std::to_string(body.size()) + "\r\n\r\n" + body))
          return false;
        const auto answer = from.Read();
        if (!answer || answer->status != 204) return false;
        cookie = answer->Header("set-cookie").substr(0, answer->Header("set-cookie").find(';'));
        return true;
      });
  if (!ok) return 1;
  return Timed("unlocked-get", count,
               [&](int) {
                 if (!connection.Send("GET /Test/" + locked +
                                      " HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: " + cookie +
                                      "\r\n\r\n"))
                   return false;
                 const auto answer = connection.Read();
                 return answer && answer->status == 200 && answer->body.size() > 10000;
               })
             ? 0
             : 1;
}

int CodesSeed(int port, int pages) {
  const std::string page = Page(port, 20 * 1024);
  for (int i = 0; i < pages; ++i) {
    // An address each, within the stores' rate.
    HttpConnection connection(port, Address(41, static_cast<std::size_t>(i)));
    const std::string name = "guess" + std::to_string(i);
    const int claimed = Status(connection, ClaimBody("guessed", name));
    if (claimed != 200 && claimed != 409) return std::fprintf(stderr, "claim: %d\n", claimed), 1;
    if (const int stored = Status(connection, StoreBody("guessed", name, page) +
                                                  "&code=" + heartpage::EncodeValue("8888") +
                                                  "&hint=" + heartpage::EncodeValue("四位数"));
        stored != 200)
      return std::fprintf(stderr, "store: %d\n", stored), 1;
  }
  return 0;
}

int Guessers(int port, int pages, int addresses) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 2 * addresses; ++t) {
    threads.emplace_back([=] {
      for (unsigned guess = static_cast<unsigned>(t) * 7919;;) {
        try {
          HttpConnection connection(port, Address(40, static_cast<std::size_t>(t / 2)));
          for (;; ++guess) {
            const std::string body = "code=" + std::to_string(guess % 10000);
            const std::string request = "POST /api/unlock/guess" + std::to_string(guess % pages) +
                                        " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
                                        "application/x-www-form-urlencoded\r\nContent-Length: " +
                                        std::to_string(body.size()) + "\r\n\r\n" + body;
            if (!connection.Send(request) || !connection.Read()) break;
          }
        } catch (const std::exception&) {
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 5 && args[0] == "seed")
    return Seed(std::stoi(args[1]), args[2], std::stoul(args[3]), args[4]);
  if (args.size() == 5 && args[0] == "stores")
    return Stores(std::stoi(args[1]), std::stoi(args[2]), std::stoul(args[3]), std::stoi(args[4]));
  if (args.size() == 4 && args[0] == "publishes")
    return Publishes(std::stoi(args[1]), std::stoi(args[2]), std::stoul(args[3]));
  if ((args.size() == 3 || args.size() == 4) && args[0] == "idle")
    return Idle(std::stoi(args[1]), std::stoi(args[2]), args.size() == 4 ? std::stoi(args[3]) : 0);
  if (args.size() == 4 && args[0] == "slow-bodies")
    return SlowBodies(std::stoi(args[1]), std::stoi(args[2]), std::stoul(args[3]));
  if (args.size() == 6 && (args[0] == "trickles" || args[0] == "slow-media")) {
    const std::size_t size = std::stoul(args[3]);
    const bool media = args[0] == "slow-media";
    return Trickle(
        std::stoi(args[1]), std::stoi(args[2]),
        [media, size](int i) {
          return media ? MediaHeader("slow" + std::to_string(i), size) + Png(8, 's')
                       : "POST /asp/index.asp HTTP/1.1\r\nHost: x\r\nContent-Length: " +
                             std::to_string(size) + "\r\n\r\n";
        },
        std::stoul(args[4]), std::stoi(args[5]), media ? 14 : 13);
  }
  if (args.size() == 5 && args[0] == "media-seed")
    return MediaSeed(std::stoi(args[1]), std::stoi(args[2]), std::stoul(args[3]), args[4]);
  if (args.size() == 4 && args[0] == "slow-readers")
    return SlowReaders(std::stoi(args[1]), std::stoi(args[2]), args[3]);
  if (args.size() == 6 && args[0] == "slow-readers")
    return SlowReaders(std::stoi(args[1]), std::stoi(args[2]), args[3], std::stoul(args[4]),
                       std::stoi(args[5]));
  if (args.size() == 3 && args[0] == "gates") return Gates(std::stoi(args[1]), std::stoi(args[2]));
  if (args.size() == 3 && args[0] == "codes-seed")
    return CodesSeed(std::stoi(args[1]), std::stoi(args[2]));
  if (args.size() == 4 && args[0] == "guessers")
    return Guessers(std::stoi(args[1]), std::stoi(args[2]), std::stoi(args[3]));
  if (args.size() == 4 && args[0] == "pages-seed")
    return PagesSeed(std::stoi(args[1]), std::stoi(args[2]), std::stoul(args[3]));
  if (args.size() == 4 && args[0] == "cycle")
    return Cycle(std::stoi(args[1]), std::stoi(args[2]), std::stoi(args[3]));
  if ((args.size() == 4 || args.size() == 5) && args[0] == "probe")
    return Probe(std::stoi(args[1]), args[2], std::stoi(args[3]), args.size() == 5 ? args[4] : "");
  std::cerr
      << "usage: server_load seed PORT NAME SIZE OUT | stores PORT COUNT SIZE CONNECTIONS"
         " | publishes PORT COUNT SIZE | idle PORT COUNT [AFTER] | slow-bodies PORT COUNT SIZE"
         " | trickles PORT COUNT SIZE RATE ADDRESSES | media-seed PORT COUNT SIZE OUT"
         " | slow-readers PORT COUNT PATHS [RATE ADDRESSES] | slow-media PORT COUNT SIZE RATE "
         "ADDRESSES"
         " | gates PORT COUNT | pages-seed PORT COUNT SIZE | cycle PORT COUNT CONNECTIONS"
         " | probe PORT KIND COUNT [PATH]\n";
  return 2;
}
