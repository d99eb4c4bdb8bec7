// An owned file descriptor: closed when it goes out of scope, so an early return cannot leak it.
#pragma once

#include <unistd.h>

#include <cerrno>
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
