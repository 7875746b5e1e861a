#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QtConcurrent/QtConcurrentRun>
#include <memory>
#include <type_traits>
#include <utility>

#include "controls/thread_order.h"

namespace heartpage {

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
  // Qt copies and moves the task on the pool's thread before it runs: only
  // a pointer to `work` goes through its hands, and `work` itself is read
  // after TakeOver.
  auto handed = std::make_shared<Work>(std::move(work));
  HandOver(handed.get());
  watcher->setFuture(QtConcurrent::run([handed] {
    TakeOver(handed.get());
    return (*handed)();
  }));
}

}  // namespace heartpage
