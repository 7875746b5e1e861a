#include "server/storage/storage_workers.h"

#include <algorithm>

namespace heartpage::server {

StorageWorkers::StorageWorkers(Limits limits)
    : reads_{std::max<std::size_t>(1, limits.queued_reads), {}, {}},
      writes_{std::max<std::size_t>(1, limits.queued_writes), {}, {}} {
  for (unsigned i = 0; i < std::max(1u, limits.readers); ++i)
    threads_.emplace_back([this] { Work(reads_); });
  for (unsigned i = 0; i < std::max(1u, limits.writers); ++i)
    threads_.emplace_back([this] { Work(writes_); });
}

StorageWorkers::~StorageWorkers() {
  Stop();
}

void StorageWorkers::Stop() {
  {
    std::lock_guard lock(mutex_);
    done_ = true;
  }
  reads_.ready.notify_all();
  writes_.ready.notify_all();
  for (std::thread& thread : threads_)
    if (thread.joinable()) thread.join();
}

bool StorageWorkers::Submit(Lane lane, std::function<void()> job) {
  Queue& queue = lane == Lane::kRead ? reads_ : writes_;
  {
    std::lock_guard lock(mutex_);
    if (done_ || queue.jobs.size() >= queue.limit) return false;
    queue.jobs.push_back(std::move(job));
  }
  queue.ready.notify_one();
  return true;
}

void StorageWorkers::Work(Queue& queue) {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock lock(mutex_);
      queue.ready.wait(lock, [&] { return done_ || !queue.jobs.empty(); });
      if (queue.jobs.empty()) return;
      job = std::move(queue.jobs.front());
      queue.jobs.pop_front();
    }
    job();
  }
}

}  // namespace heartpage::server
