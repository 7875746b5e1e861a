#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace heartpage::server {

// Raises this process's limit of open descriptors to the most it may have
// (the hard limit) and returns the limit now in force.
std::size_t RaiseDescriptorLimit();

// How many descriptors the page cache's files may take out of `limit`: an
// eighth, at most 1024.
std::size_t DefaultPageFiles(std::size_t limit);
// How many connections fit beside the page files, the database, the log and
// the listener: three quarters of what those leave, so that assets being sent
// (a file each) never find the descriptors gone.
std::size_t DefaultMaxConnections(std::size_t limit, std::size_t page_files);

// One descriptor kept back for the moment all the others are in use: freed,
// it lets the listener take waiting connections and close them, so that their
// clients are told at once instead of waiting in the queue.
class SpareDescriptor {
 public:
  SpareDescriptor();
  ~SpareDescriptor();
  SpareDescriptor(const SpareDescriptor&) = delete;
  SpareDescriptor& operator=(const SpareDescriptor&) = delete;

  void Release();
  void Retake();

 private:
  int fd_ = -1;
};

// Writes `answer` to a fresh connection as far as the socket takes it
// without waiting; for short refusals that end the connection.
void SendNow(int socket, std::string_view answer);

// Bytes written to a connected socket that the kernel still holds, not yet
// taken by the other end.
std::size_t QueuedBytes(int socket);
// Bytes the other end of a connected TCP socket has taken since it opened.
std::uint64_t TakenBytes(int socket);

// Takes one connection waiting on the non-blocking `listener`, sends it
// `answer` and closes it. False when none was waiting or it could not be
// taken.
bool TurnAway(int listener, std::string_view answer);

}  // namespace heartpage::server
