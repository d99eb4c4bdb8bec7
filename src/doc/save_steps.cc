// The plain file steps of a save.
#include "doc/save_steps.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <string>

#include "core/bytes.h"
#include "core/fd.h"
#include "core/signals.h"

namespace save_steps {

// Bytes copied at a time into a backup.
constexpr std::size_t kCopyChunk = 1 << 20;

Status WriteBytes(int fd, std::span<const char> bytes, off_t offset, OnEintr rule) {
  bool abandon = rule == OnEintr::kGiveUp;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const char* from = bytes.data() + done;
    std::size_t left = bytes.size() - done;
    ssize_t n = RetryOnEintr(
        [&] {
          return offset < 0 ? write(fd, from, left)
                            : pwrite(fd, from, left, offset + static_cast<off_t>(done));
        },
        [&] { return abandon && PendingSignal() != 0; });
    if (n < 0 && abandon && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A slow reader is waited for, until a handled signal comes.
      if (int err = WaitReady(fd, POLLOUT, WaitEnds::kAnySignal, false); err != 0) return err;
      continue;
    }
    if (n < 0) return errno;
    if (n == 0) return EIO;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

Status WritePieces(int fd, const Pieces& bytes, off_t offset, OnEintr rule) {
  return bytes.Each([&](std::span<const char> piece) {
    Status written = WriteBytes(fd, piece, offset, rule);
    if (offset >= 0) offset += static_cast<off_t>(piece.size());
    return written;
  });
}

Status CopyBytes(int from, int to, off_t size, char* spare) {
  std::size_t chunk = std::min(kCopyChunk, static_cast<std::size_t>(std::max<off_t>(size, 1)));
  Bytes had(static_cast<char*>(std::malloc(chunk)));
  char* buffer = had.get();
  if (buffer == nullptr && spare != nullptr) {
    buffer = spare;
    chunk = std::min(chunk, kGatherRoom);
  }
  if (buffer == nullptr) return ENOMEM;
  for (off_t at = 0; at < size;) {
    std::size_t want = std::min(chunk, static_cast<std::size_t>(size - at));
    ssize_t n = RetryOnEintr([&] { return pread(from, buffer, want, at); });
    if (n < 0) return errno;
    if (n == 0) return EIO;
    Status written = WriteBytes(to, {buffer, static_cast<std::size_t>(n)}, at);
    if (!written.ok()) return written;
    at += n;
  }
  return 0;
}

Status Sync(int fd) {
  return Sys(OnEintr::kRetry, [&] { return fsync(fd); });
}

Status SyncFolder(const Folder& folder) {
  Fd fd(RetryOnEintr(
      [&] { return openat(folder.fd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
  if (!fd.valid()) return errno;
  return Sync(fd.get());
}

Status Close(Fd& fd) {
  int err = fd.Close();
  return err == EINTR ? 0 : err;
}

Status ReserveSpace(int fd, off_t size) {
  if (size == 0) return 0;
  // A reservation that keeps the size is not held to the file-size limit; the write would be.
  rlimit limit = {};
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      static_cast<rlim_t>(size) > limit.rlim_cur) {
    return EFBIG;
  }
  if (RetryOnEintr([&] { return fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size); }) == 0) return 0;
  return errno == EOPNOTSUPP || errno == ENOSYS || errno == EINVAL ? 0 : errno;
}

Status WriteRecord(const Folder& folder, const std::string& name, const std::string& text) {
  int dir = folder.fd.get();
  Fd fd(RetryOnEintr([&] {
    return openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  }));
  if (!fd.valid()) return errno;
  Status written = WriteBytes(fd.get(), text);
  if (written.ok()) written = Sync(fd.get());
  Status closed = Close(fd);
  if (written.ok()) written = closed;
  if (!written.ok()) unlinkat(dir, name.c_str(), 0);
  return written;
}

SaveResult OpenChecked(const Target& target, int flags, Fd& fd, struct stat& now) {
  fd = Fd(RetryOnEintr([&] {
    return openat(target.folder.fd.get(), target.name.c_str(),
                  flags | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  }));
  // Gone, or a link now.
  if (!fd.valid()) return errno == ENOENT || errno == ELOOP ? Changed() : Failed(errno);
  if (RetryOnEintr([&] { return fstat(fd.get(), &now); }) != 0) return Failed(errno);
  return SameFile(now, target.info) ? SaveResult{} : Changed();
}

}  // namespace save_steps
