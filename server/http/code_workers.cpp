#include "server/http/code_workers.h"

#include <algorithm>
#include <optional>

namespace heartpage::server {

CodeWorkers::CodeWorkers(Limits limits)
    : limits_{std::max(1u, limits.threads), std::max<std::size_t>(1, limits.waiting),
              std::max<std::size_t>(1, limits.per_client)} {
  for (unsigned i = 0; i < limits_.threads; ++i) threads_.emplace_back([this] { Work(); });
}

CodeWorkers::~CodeWorkers() {
  Stop();
}

void CodeWorkers::Stop() {
  {
    std::lock_guard lock(mutex_);
    done_ = true;
  }
  ready_.notify_all();
  for (std::thread& thread : threads_)
    if (thread.joinable()) thread.join();
}

CodeWorkers::Admission CodeWorkers::Submit(const std::string& client, std::function<void()> job,
                                           std::function<void()> given_way) {
  std::optional<Job> displaced;
  {
    std::lock_guard lock(mutex_);
    if (done_) return Admission::kSiteFull;
    const auto mine = held_.find(client);
    const std::size_t holds = mine == held_.end() ? 0 : mine->second;
    if (holds >= limits_.per_client) return Admission::kClientFull;
    if (waiting_.size() >= limits_.waiting) {
      if (holds > 0) return Admission::kSiteFull;
      // The newest job of the client that holds most gives way, if that
      // client holds more than the newcomer would.
      const auto most =
          std::max_element(held_.begin(), held_.end(),
                           [](const auto& a, const auto& b) { return a.second < b.second; });
      if (most == held_.end() || most->second < 2) return Admission::kSiteFull;
      const auto newest = std::find_if(waiting_.rbegin(), waiting_.rend(), [&](const Job& queued) {
        return queued.client == most->first;
      });
      if (newest == waiting_.rend()) return Admission::kSiteFull;
      displaced = std::move(*newest);
      waiting_.erase(std::next(newest).base());
      if (--most->second == 0) held_.erase(most);
    }
    waiting_.push_back({client, std::move(job), std::move(given_way)});
    ++held_[client];
  }
  ready_.notify_one();
  if (displaced) displaced->given_way();
  return Admission::kQueued;
}

void CodeWorkers::Work() {
  for (;;) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      ready_.wait(lock, [&] { return done_ || !waiting_.empty(); });
      if (waiting_.empty()) return;
      job = std::move(waiting_.front());
      waiting_.pop_front();
    }
    job.run();
    std::lock_guard lock(mutex_);
    if (const auto held = held_.find(job.client); held != held_.end() && --held->second == 0)
      held_.erase(held);
  }
}

}  // namespace heartpage::server
