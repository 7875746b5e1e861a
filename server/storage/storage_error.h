#pragma once

#include <stdexcept>

namespace heartpage::server {

// Whatever a store cannot do, it says by throwing one of these: the caller
// answers 500 (or 503 when busy) and nothing has changed.
struct StorageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The database stayed locked by another writer for longer than a request may
// wait: nothing changed, and asking again shortly may well succeed.
struct StorageBusy : StorageError {
  using StorageError::StorageError;
};

}  // namespace heartpage::server
