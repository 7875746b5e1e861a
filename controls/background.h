#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QtConcurrent/QtConcurrentRun>
#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>

namespace heartpage {

// Held by the caller while it hands a task to the pool, taken by the task
// before it reads what it was given. The pool hands a task to a busy thread
// under a futex mutex that ThreadSanitizer cannot see; this states the same
// order where it can. A task waits on it at most until QtConcurrent::run has
// returned on the caller's side.
inline std::mutex& HandOverMutex() {
  static std::mutex handing_over;
  return handing_over;
}

// Runs `work` on a thread of the pool, away from the windows' thread, and
// hands its result to `done` on `owner`'s thread once it is there. The
// windows' event loop runs on meanwhile: timers fire, windows paint and
// answer. A result that arrives after `owner` has gone is dropped: the
// watcher is `owner`'s child and goes with it. `work` must not touch
// widgets; it gets copies of what it needs.
template <typename Work, typename Done>
void RunInBackground(QObject* owner, Work work, Done done) {
  using Result = std::invoke_result_t<Work>;
  auto* watcher = new QFutureWatcher<Result>(owner);
  QObject::connect(watcher, &QFutureWatcherBase::finished, owner,
                   [watcher, done = std::move(done)]() mutable {
                     watcher->deleteLater();
                     done(watcher->result());
                   });
  // Qt copies and moves the task before it runs: only a pointer to `work`
  // goes through its hands, `work` itself is read after the hand-over.
  auto handed = std::make_shared<Work>(std::move(work));
  const std::lock_guard handing_over(HandOverMutex());
  watcher->setFuture(QtConcurrent::run([handed] {
    { const std::lock_guard taken(HandOverMutex()); }
    return (*handed)();
  }));
}

}  // namespace heartpage
