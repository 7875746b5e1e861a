#pragma once

#include <boost/beast/http/message.hpp>

#include <cstdint>
#include <memory>
#include <string>

namespace heartpage::server {

// A file sent from where it is kept, one piece after another as the client
// takes them: a reader, however slow, holds the piece on its way and
// nothing else of the file, in memory or on disk.
class PieceSource {
 public:
  virtual ~PieceSource() = default;
  // Where the piece that holds byte `offset` ends: pieces follow the way the
  // file is kept, so that none is read twice.
  virtual std::uint64_t PieceEnd(std::uint64_t offset) const = 0;
  // Bytes [from, to) of the file. Waits on the database: called on a storage
  // worker only. Throws StorageError, and so does a file grown short.
  virtual std::string Read(std::uint64_t from, std::uint64_t to) const = 0;
};

// The body of such an answer: which bytes of the file it carries. The
// connection fetches its pieces itself.
struct PieceBody {
  struct value_type {
    std::shared_ptr<const PieceSource> source;
    std::uint64_t first = 0;
    std::uint64_t length = 0;
    std::uint64_t size() const { return length; }
  };
  static std::uint64_t size(const value_type& body) { return body.length; }
};

using StreamResponse = boost::beast::http::response<PieceBody>;

}  // namespace heartpage::server
