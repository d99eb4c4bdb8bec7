// An owned file descriptor: closed when it goes out of scope, so an early return cannot leak it.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <string>
#include <utility>

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

  /// Closes now and returns 0 or the errno of a failed close (a write-back error shows here).
  int Close() {
    if (fd_ < 0) return 0;
    int err = ::close(std::exchange(fd_, -1)) == 0 ? 0 : errno;
    return err;
  }

 private:
  void Reset() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
  }
  int fd_ = -1;
};

/// Appends what `fd` holds, up to its end or until `text` holds `limit` bytes, retrying
/// interrupted reads. False on a read error.
inline bool ReadAtMost(int fd, std::size_t limit, std::string& text) {
  char chunk[4096];
  while (text.size() < limit) {
    ssize_t n = ::read(fd, chunk, std::min(sizeof chunk, limit - text.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    text.append(chunk, static_cast<std::size_t>(n));
  }
  return true;
}
