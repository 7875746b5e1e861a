#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace heartpage::server {

// The threads that talk to the database, so that a network thread never
// blocks on it. Writes go through one lane and reads through another: the
// database lets one writer in at a time anyway, and a read must not queue
// behind a write that is waiting for a lock. Both queues are bounded; a full
// queue refuses at once, and the caller answers "busy" instead of letting
// work and memory pile up.
class StorageWorkers {
 public:
  enum class Lane { kRead, kWrite };

  struct Limits {
    unsigned readers = 2;
    unsigned writers = 1;
    std::size_t queued_reads = 256;
    std::size_t queued_writes = 32;
  };

  explicit StorageWorkers(Limits limits);
  ~StorageWorkers();
  StorageWorkers(const StorageWorkers&) = delete;
  StorageWorkers& operator=(const StorageWorkers&) = delete;

  // False, without running `job`, when the lane's queue is full. `job` must
  // not throw.
  bool Submit(Lane lane, std::function<void()> job);

  // Runs what is queued, then joins; later submissions are refused. The
  // owner calls it before whatever the jobs refer to goes away, so that no
  // job, nor the last reference it may hold, outlives it on a worker thread.
  void Stop();

 private:
  struct Queue {
    std::size_t limit;
    std::deque<std::function<void()>> jobs;
    std::condition_variable ready;
  };
  void Work(Queue& queue);

  std::mutex mutex_;
  bool done_ = false;
  Queue reads_;
  Queue writes_;
  std::vector<std::thread> threads_;
};

}  // namespace heartpage::server
