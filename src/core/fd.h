// Descriptors: an owned one (closed when it goes out of scope, so an early return cannot leak
// it), the one retry of system calls that a signal interrupts, and a bounded read.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <string>
#include <utility>

#include "core/status.h"

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

  /// Closes now: ok, or the errno of a failed close (a write-back error shows here).
  Status Close() {
    if (fd_ < 0) return {};
    return ::close(std::exchange(fd_, -1)) == 0 ? 0 : errno;
  }

 private:
  void Reset() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
  }
  int fd_ = -1;
};

/// Runs `call` (a system call that returns -1 and sets errno on failure) again for as long as a
/// signal interrupts it, and returns its last result with errno as that left it. The signal
/// handlers only record (core/signals.h), so the caller acts on a signal afterwards. A call
/// that may wait long (a FIFO's open, a read from a pipe) gives way to a signal with `stop`,
/// asked before every try: once it says so, no further try is made, and the result is -1
/// with errno EINTR.
template <typename Call, typename Stop>
auto RetryOnEintr(Call call, Stop stop) {
  using Result = decltype(call());
  Result result;
  do {
    if (stop()) {
      errno = EINTR;
      return Result(-1);
    }
    result = call();
  } while (result == -1 && errno == EINTR);
  return result;
}

template <typename Call>
auto RetryOnEintr(Call call) {
  return RetryOnEintr(call, [] { return false; });
}

/// Appends what `fd` holds, up to its end or until `text` holds `limit` bytes. Returns ok, or
/// the errno of a failed read.
inline Status ReadUpTo(int fd, std::size_t limit, std::string& text) {
  char chunk[4096];
  while (text.size() < limit) {
    ssize_t n = RetryOnEintr(
        [&] { return ::read(fd, chunk, std::min(sizeof chunk, limit - text.size())); });
    if (n < 0) return errno;
    if (n == 0) break;
    text.append(chunk, static_cast<std::size_t>(n));
  }
  return 0;
}
