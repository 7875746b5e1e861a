// Load for heartpage-server, driven by bench/server_vs_nginx.sh:
//   server_load seed PORT NAME SIZE OUT   claim NAME, store a SIZE-byte page,
//                                         write the page's bytes to OUT
//   server_load stores PORT COUNT SIZE CONNECTIONS
//                                         COUNT stores of SIZE bytes over
//                                         CONNECTIONS keep-alive connections;
//                                         prints stores per second
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <thread>
#include <vector>

#include "net/gbk.h"
#include "net/value_encoding.h"
#include "tests/server/server_harness.h"

namespace {

using heartpage::server::testing::HttpConnection;
using heartpage::server::testing::PostRequest;

std::string Page(std::size_t size) {
  std::string page = "<html><head><meta charset=\"gbk\"><title>我爱你</title></head><body>\r\n";
  for (int line = 0; heartpage::ToGbk(page).size() < size; ++line)
    page += "<p>第" + std::to_string(line) + "行：亲爱的，今天也想你。I love you.</p>\r\n";
  page = heartpage::FromGbk(heartpage::ToGbk(page).substr(0, size));
  return page;
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
  const std::string page = Page(size);
  HttpConnection connection(port);
  const int claimed = Status(connection, ClaimBody("bench", name));
  if (claimed != 200 && claimed != 409) return std::fprintf(stderr, "claim: %d\n", claimed), 1;
  if (const int stored = Status(connection, StoreBody("bench", name, page)); stored != 200)
    return std::fprintf(stderr, "store: %d\n", stored), 1;
  std::ofstream(out, std::ios::binary) << heartpage::ToGbk(page);
  return 0;
}

int Stores(int port, int count, std::size_t size, int connections) {
  const std::string page = Page(size);
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

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 5 && args[0] == "seed")
    return Seed(std::stoi(args[1]), args[2], std::stoul(args[3]), args[4]);
  if (args.size() == 5 && args[0] == "stores")
    return Stores(std::stoi(args[1]), std::stoi(args[2]), std::stoul(args[3]), std::stoi(args[4]));
  std::cerr << "usage: server_load seed PORT NAME SIZE OUT | stores PORT COUNT SIZE CONNECTIONS\n";
  return 2;
}
