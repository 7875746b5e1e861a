#include "tasks/background.h"

namespace heartpage {
namespace detail {

void Attach(const std::shared_ptr<TaskState>& state, QObject* receiver) {
  {
    const std::lock_guard lock(state->mutex);
    state->receiver = receiver;
  }
  // Emitted before Qt drops the receiver's pending events: a report that
  // got in first is dropped with them, and none can get in after.
  QObject::connect(receiver, &QObject::destroyed, [state] {
    {
      const std::lock_guard lock(state->mutex);
      state->receiver = nullptr;
    }
    state->cancelled = true;
  });
}

}  // namespace detail

void TaskControl::ReportProgress(int value) {
  state_->progress = value;
  // The delivery on its way reads the value when it arrives: it carries
  // this one too.
  if (state_->delivery_pending.exchange(true)) return;
  const std::lock_guard lock(state_->mutex);
  if (state_->receiver == nullptr) return;
  HandOver(state_.get());
  QMetaObject::invokeMethod(
      state_->receiver,
      [state = state_] {
        TakeOver(state.get());
        // Cleared before the read: a report after the read sends anew.
        state->delivery_pending = false;
        state->on_progress(state->progress.load());
      },
      Qt::QueuedConnection);
}

}  // namespace heartpage
