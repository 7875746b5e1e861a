#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "server/storage/admin_store.h"
#include "server/storage/claim_store.h"
#include "server/storage/deny_store.h"
#include "server/storage/media_store.h"
#include "server/storage/page_store.h"
#include "server/storage/preview_store.h"
#include "server/storage/receipt_store.h"
#include "server/storage/report_store.h"
#include "server/storage/settings_store.h"

// Everything the server keeps: the settings row, the name claims, the
// published pages, the previews, the media, visitors' reports, what came
// back from the pages and the operator's deny list. Implementations must be safe
// to call from several threads at once and, for a database shared by several
// server processes, from several processes: uniqueness of names and
// atomicity of stores are the database's job, not the caller's.
namespace heartpage::server {

// A database engine: every concern in one place, and what a cache in front
// of its pages needs to know.
class Storage : public SettingsStore,
                public ClaimStore,
                public PageStore,
                public PageChangeSource,
                public PreviewStore,
                public MediaStore,
                public ReportStore,
                public ReceiptStore,
                public DenyStore,
                public AdminStore {};

// What every engine is built with.
struct StorageOptions {
  // Stores that would take the pages' and the media's bytes in all past this
  // are refused (kOverQuota); previews have a share of it beside them. None:
  // no limit.
  std::optional<std::uint64_t> page_byte_limit;
  // Connections opened at the start, so that serving does not need new
  // descriptors for the database at a moment when clients may hold them all.
  // PostgreSQL never holds more than this many at once; SQLite opens more
  // when more threads ask at once.
  std::size_t connections = 1;
};

// Where the site finds each concern: all in one engine, or the pages and the
// previews in a cache in front of it (CachingStorage::Serving).
struct Stores {
  // One engine serves them all; implicit, so that an engine may be handed
  // wherever the stores are asked for.
  Stores(Storage& engine)  // NOLINT: implicit on purpose
      : settings(engine),
        claims(engine),
        pages(engine),
        previews(engine),
        media(engine),
        reports(engine),
        receipts(engine),
        deny(engine),
        admin(engine) {}
  // The pages and previews from `page_store` and `preview_store`, the rest
  // from `engine`.
  Stores(Storage& engine, PageStore& page_store, PreviewStore& preview_store)
      : settings(engine),
        claims(engine),
        pages(page_store),
        previews(preview_store),
        media(engine),
        reports(engine),
        receipts(engine),
        deny(engine),
        admin(engine) {}

  SettingsStore& settings;
  ClaimStore& claims;
  PageStore& pages;
  PreviewStore& previews;
  MediaStore& media;
  ReportStore& reports;
  ReceiptStore& receipts;
  DenyStore& deny;
  AdminStore& admin;
};

}  // namespace heartpage::server
