#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QtConcurrent/QtConcurrentRun>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>

#include "tasks/thread_order.h"

namespace heartpage {

namespace detail {

// What the two sides of one run share.
struct TaskState {
  std::atomic<bool> cancelled{false};
  std::atomic<int> progress{0};
  // A delivery of `progress` is on its way to the owner's thread: later
  // reports only change the value it will read.
  std::atomic<bool> delivery_pending{false};
  std::mutex mutex;
  // Where deliveries are posted; null once the owner's side has gone.
  QObject* receiver = nullptr;
  // Read on the owner's thread only.
  std::function<void(int)> on_progress;
};

// Deliveries go to `receiver` while it lives; its end cancels the run.
void Attach(const std::shared_ptr<TaskState>& state, QObject* receiver);

}  // namespace detail

// What the work sees of its run, on the pool's thread.
class TaskControl {
 public:
  explicit TaskControl(std::shared_ptr<detail::TaskState> state) : state_(std::move(state)) {}

  // True once the owner asked the run to stop or went away: the work ends
  // as soon as it can, and what it returns reaches the owner only if the
  // owner is still there.
  bool Cancelled() const { return state_->cancelled.load(); }

  // How far the work is, on whatever scale the owner's progress function
  // reads. The owner hears it on its own thread; reports that come faster
  // than that thread takes them are coalesced, so it hears the latest.
  void ReportProgress(int value);

 private:
  std::shared_ptr<detail::TaskState> state_;
};

// The owner's hold on a run.
class BackgroundTask {
 public:
  explicit BackgroundTask(std::shared_ptr<detail::TaskState> state) : state_(std::move(state)) {}

  // Asks the work to stop (TaskControl::Cancelled); its result still comes.
  void Cancel() const { state_->cancelled = true; }

 private:
  std::shared_ptr<detail::TaskState> state_;
};

namespace detail {

template <typename Work>
decltype(auto) Invoke(Work& work, TaskControl& control) {
  if constexpr (std::is_invocable_v<Work&, TaskControl&>) {
    return work(control);
  } else {
    return work();
  }
}

template <typename Work>
using WorkResult =
    std::decay_t<decltype(Invoke(std::declval<Work&>(), std::declval<TaskControl&>()))>;

// Qt copies and moves the task on the pool's thread before it runs: only
// pointers to the work and to the shared state go through its hands, and the
// work itself is read after TakeOver; the result likewise comes back after a
// HandOver. The work arrives type-erased, so that what runs on the pool is
// one type per result, whose name ThreadSanitizer can still print (and its
// suppressions of Qt's own hand-overs match).
template <typename Result>
QFuture<Result> StartOnPool(std::shared_ptr<std::function<Result(TaskControl&)>> work,
                            std::shared_ptr<TaskState> state) {
  HandOver(work.get());
  return QtConcurrent::run([work = std::move(work), state = std::move(state)] {
    TakeOver(work.get());
    TaskControl control(state);
    Result result = (*work)(control);
    HandOver(state.get());
    return result;
  });
}

}  // namespace detail

// Runs `work` on a thread of the pool, away from the windows' thread, and
// hands its result to `done` on `owner`'s thread once it is there. The
// windows' event loop runs on meanwhile: timers fire, windows paint and
// answer. `work` takes no argument, or a TaskControl& through which it
// reports progress to `progress` (on `owner`'s thread) and learns that it is
// no longer wanted. When `owner` goes, the run is cancelled and its result
// dropped: the watcher is `owner`'s child and goes with it. `work` must not
// touch widgets; it gets copies of what it needs.
template <typename Work, typename Done, typename Progress>
BackgroundTask RunInBackground(QObject* owner, Work work, Done done, Progress progress) {
  using Result = detail::WorkResult<Work>;
  auto state = std::make_shared<detail::TaskState>();
  state->on_progress = std::move(progress);
  auto* watcher = new QFutureWatcher<Result>(owner);
  detail::Attach(state, watcher);
  QObject::connect(watcher, &QFutureWatcherBase::finished, owner,
                   [watcher, state, done = std::move(done)]() mutable {
                     TakeOver(state.get());
                     watcher->deleteLater();
                     done(watcher->result());
                   });
  auto handed = std::make_shared<std::function<Result(TaskControl&)>>(
      [work = std::move(work)](TaskControl& control) mutable {
        return detail::Invoke(work, control);
      });
  watcher->setFuture(detail::StartOnPool<Result>(std::move(handed), state));
  return BackgroundTask(state);
}

template <typename Work, typename Done>
BackgroundTask RunInBackground(QObject* owner, Work work, Done done) {
  return RunInBackground(owner, std::move(work), std::move(done), [](int) {});
}

}  // namespace heartpage
