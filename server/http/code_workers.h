#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace heartpage::server {

// The threads that hash pages' codes. A hash takes tens of milliseconds of a
// core and megabytes of memory on purpose, so it must not run where the
// storage lanes run: one try at a code would hold up every store behind it.
// Its queue is small and bounded for the whole site, and shared by client:
// a client holds at most its share of it, and once it is full a client that
// holds none takes the place of the newest job of the one holding most, so
// that many tries from a few addresses never keep a newcomer's out. All is
// decided before anything is hashed.
class CodeWorkers {
 public:
  struct Limits {
    unsigned threads = 1;
    std::size_t waiting = 8;     // site-wide, beside those being hashed
    std::size_t per_client = 2;  // waiting and being hashed
  };
  enum class Admission { kQueued, kClientFull, kSiteFull };

  explicit CodeWorkers(Limits limits);
  ~CodeWorkers();
  CodeWorkers(const CodeWorkers&) = delete;
  CodeWorkers& operator=(const CodeWorkers&) = delete;

  // Queues `job` for `client` (its limit key), unless the answer says why
  // not. A job later given way to a newcomer does not run: `given_way` runs
  // instead, on the caller's thread. Neither may throw.
  Admission Submit(const std::string& client, std::function<void()> job,
                   std::function<void()> given_way);

  // Runs what is queued, then joins; later submissions are refused.
  void Stop();

 private:
  struct Job {
    std::string client;
    std::function<void()> run;
    std::function<void()> given_way;
  };
  void Work();

  const Limits limits_;
  std::mutex mutex_;
  std::condition_variable ready_;
  bool done_ = false;
  std::deque<Job> waiting_;
  std::map<std::string, std::size_t, std::less<>> held_;  // waiting and running, by client
  std::vector<std::thread> threads_;
};

}  // namespace heartpage::server
