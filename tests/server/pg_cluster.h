#pragma once

// A throwaway PostgreSQL cluster for tests: made in a scratch folder, on a
// free loopback port, run by an unprivileged user when the tests run as root
// (PostgreSQL refuses root), and removed afterwards.

#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "server/storage/postgres/pg_connection.h"
#include "tests/support/loopback_listener.h"
#include "tests/support/server_harness.h"

namespace heartpage::server::testing {

class PostgresCluster {
 public:
  PostgresCluster()
      : data_(dir_.path() / "data"), port_(heartpage::testing::LoopbackListener::ClosedPort()) {
    if (geteuid() == 0) {
      const passwd* nobody = getpwnam("nobody");
      if (nobody == nullptr) throw std::runtime_error("no user nobody to run PostgreSQL as");
      user_ = static_cast<int>(nobody->pw_uid);
      if (chown(dir_.path().c_str(), nobody->pw_uid, nobody->pw_gid) != 0)
        throw std::runtime_error("cannot hand the cluster's folder to nobody");
    }
    Run({Tool("initdb"), "-D", data_.string(), "-U", "heartpage", "--auth=trust", "-E", "UTF8",
         "--locale=C", "-N"});
    // The port was free when it was chosen; a client of another test may
    // have taken it as its own end since.
    for (int attempt = 1;; ++attempt) {
      try {
        Start();
        break;
      } catch (const std::runtime_error&) {
        if (attempt == 3) throw;
        port_ = heartpage::testing::LoopbackListener::ClosedPort();
      }
    }
  }
  ~PostgresCluster() {
    if (running_) Run({Tool("pg_ctl"), "-D", data_.string(), "-m", "immediate", "-w", "stop"});
  }
  PostgresCluster(const PostgresCluster&) = delete;
  PostgresCluster& operator=(const PostgresCluster&) = delete;

  // The cluster of this test program, made on first use.
  static PostgresCluster& Shared() {
    static PostgresCluster cluster;
    return cluster;
  }

  // A new empty database, by its URI.
  std::string NewDatabase() {
    static std::atomic<int> count = 0;
    const std::string name = "test" + std::to_string(++count);
    PgConnection(Uri("postgres")).Exec("CREATE DATABASE " + name);
    return Uri(name);
  }

  std::string Uri(const std::string& database) const {
    return "postgresql://heartpage@127.0.0.1:" + std::to_string(port_) + "/" + database;
  }

  // Stopped fast, as an operator or a crash would: sessions are ended.
  void Stop() {
    Run({Tool("pg_ctl"), "-D", data_.string(), "-m", "fast", "-w", "stop"});
    running_ = false;
  }
  void Start() {
    // fsync off: what the tests prove about durability is the server's
    // waiting for commits; the disk under PostgreSQL is PostgreSQL's job.
    Run({Tool("pg_ctl"), "-D", data_.string(), "-l", (dir_.path() / "log").string(), "-o",
         "-p " + std::to_string(port_) + " -k " + dir_.path().string() +
             " -c listen_addresses=127.0.0.1 -c fsync=off -c max_connections=200",
         "-w", "start"});
    running_ = true;
  }

 private:
  static std::string Tool(const std::string& name) {
    return std::string(HEARTPAGE_PG_BINDIR) + "/" + name;
  }

  void Run(std::vector<std::string> args) const {
    if (user_ >= 0) args.insert(args.begin(), {"/usr/sbin/runuser", "-u", "nobody", "--"});
    // Quiet unless it fails; its log is in the folder.
    const heartpage::testing::RunResult run = heartpage::testing::RunProgram(args);
    if (run.status != 0)
      throw std::runtime_error("failed: " + args[user_ >= 0 ? 4 : 0] + " " + args.back() + ": " +
                               run.err);
  }

  ScratchDir dir_;
  std::filesystem::path data_;
  int port_;
  int user_ = -1;
  bool running_ = false;
};

}  // namespace heartpage::server::testing
