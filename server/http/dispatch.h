#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/http/status.hpp>

#include <chrono>
#include <memory>
#include <string>
#include <utility>

#include "server/http/server_shared.h"
#include "server/site/common/client_address.h"
#include "server/site/files/media.h"
#include "server/site/files/media_spool.h"
#include "server/site/router.h"
#include "server/storage/storage_workers.h"

namespace heartpage::server {

// The storage queue, or the code workers', was full: by the time the client asks again it has most
// likely moved on.
inline constexpr std::chrono::seconds kQueueFullRetry{1};

// Has the site answer `request` for `owner`, a connection, which sends the
// answer with its Send(Response&&) on its own thread: at once what needs no
// database; the rest on a storage worker, the owner's thread kept running
// until the answer is back, also while the server stops. `spool`: the
// request sent a file, which is stored (its rate was limited when it
// began). `audit` learns what was asked; the owner keeps it alive.
template <class Owner>
void Dispatch(Owner& owner, ServerShared& shared, Request&& request,
              std::shared_ptr<MediaSpool> spool, const std::string& client, Audit* audit) {
  namespace asio = boost::asio;
  using boost::beast::http::status;
  Routed routed;
  if (spool)
    routed.work = Work::kStore;
  else
    routed = WorkOf(request, shared.site);
  const Work work = routed.work;
  const std::string_view routed_operation = routed.operation;
  if (work == Work::kAtOnce) return owner.Send(HandleRequest(request, routed, shared.site, audit));
  if (const auto wait = spool               ? std::chrono::seconds(0)
                        : routed.reads_page ? shared.PageReadWait(client)
                                            : shared.Throttle(work, client);
      wait.count() > 0) {
    audit->operation = routed.operation;
    auto refusal = TryLater(request, status::too_many_requests, wait, "too many requests");
    // A published page's script reads the answer from an origin of its own.
    if (work == Work::kVisit)
      refusal.set(boost::beast::http::field::access_control_allow_origin, "null");
    return owner.Send(std::move(refusal));
  }
  // What is stored counts against the budgets of the client's address.
  audit->sender = SenderBudget(shared.site, LimitKey(client));
  struct Job {
    Request request;
    Routed routed;
  };
  auto job = std::make_shared<Job>(Job{std::move(request), std::move(routed)});
  auto busy = std::make_shared<asio::executor_work_guard<asio::io_context::executor_type>>(
      owner.Executor());
  const auto answer = [self = owner.shared_from_this(), shared = &shared, audit, job, busy, spool,
                       client]() mutable {
    auto response = std::make_shared<Response>(
        spool ? HandleMediaUpload(job->request, *spool, shared->site, audit)
              : HandleRequest(job->request, job->routed, shared->site, audit));
    // The spooled file goes before the answer does: a client told its file
    // is stored finds no copy of it held.
    spool.reset();
    shared->ChargeGuess(client, job->routed.endpoint ? job->routed.endpoint->operation : nullptr,
                        StatusOf(*response));
    if (job->routed.reads_page) shared->ChargeReads(client, audit->page_bytes_read);
    // The connection and its thread's keep-alive go together to that
    // thread: a connection held here a moment longer could outlast the
    // thread's last turn, and end on this one.
    const auto executor = self->Executor();
    asio::post(executor, [self = std::move(self), response = std::move(response),
                          busy = std::move(busy)] { self->Send(std::move(*response)); });
  };
  if (job->routed.hashes_code && !spool) {
    // Refused before anything is hashed or counted; a try given way to a
    // newcomer is answered as if the queue had been full when it came.
    const auto given_way = [self = owner.shared_from_this(), job, busy, audit]() mutable {
      audit->operation = job->routed.operation;
      const auto executor = self->Executor();
      asio::post(executor, [self = std::move(self), job = std::move(job), busy = std::move(busy)] {
        self->Send(
            TryLater(job->request, status::service_unavailable, kQueueFullRetry, "server busy"));
      });
    };
    switch (shared.code_workers->Submit(LimitKey(client), answer, given_way)) {
      case CodeWorkers::Admission::kQueued:
        return;
      case CodeWorkers::Admission::kClientFull:
        audit->operation = routed_operation;
        return owner.Send(TryLater(job->request, status::too_many_requests, kQueueFullRetry,
                                   "too many codes being tried from this address"));
      case CodeWorkers::Admission::kSiteFull:
        audit->operation = routed_operation;
        return owner.Send(
            TryLater(job->request, status::service_unavailable, kQueueFullRetry, "server busy"));
    }
  }
  const auto lane = work == Work::kRead || work == Work::kLookup || work == Work::kPreview
                        ? StorageWorkers::Lane::kRead
                        : StorageWorkers::Lane::kWrite;
  if (!shared.workers->Submit(lane, answer))
    owner.Send(TryLater(job->request, status::service_unavailable, kQueueFullRetry, "server busy"));
}

}  // namespace heartpage::server
