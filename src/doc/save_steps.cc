// The plain file steps of a save, the new files it makes, and recovery files.
#include "doc/save_steps.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
      Status ready = WaitReady(fd, POLLOUT, WaitEnds::kAnySignal, false);
      if (!ready.ok()) return ready;
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
  int err = fd.Close().err;
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
  Fd fd;
  if (Status made = OpenNamed(dir, name.c_str(), 0600, fd); !made.ok()) return made;
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

namespace {

// Gives `file` the name `make(name)` made: the chosen one, or a unique one.
template <typename Make>
Status Named(NewFile& file, Make make) {
  if (file.chosen.empty()) return WithUniqueName(file.pattern, file.name, make);
  Status made = make(file.chosen);
  if (made.ok()) file.name = file.chosen;
  return made;
}

}  // namespace

Status OpenUnnamed(int dir, mode_t mode, Fd& fd) {
  if (access("/proc/self/fd", X_OK) != 0) return EOPNOTSUPP;  // unnamed files are named there
  fd = Fd(RetryOnEintr([&] { return openat(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode); }));
  if (fd.valid()) return 0;
  // Filesystems without unnamed files say so in one of these ways.
  return errno == EISDIR || errno == EINVAL ? EOPNOTSUPP : errno;
}

Status OpenNamed(int dir, const char* name, mode_t mode, Fd& fd) {
  fd = Fd(RetryOnEintr(
      [&] { return openat(dir, name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode); }));
  return fd.valid() ? 0 : errno;
}

Status CreateIn(const Folder& folder, NewFile& file, mode_t mode, bool unnamed_only) {
  int dir = folder.fd.get();
  Status unnamed = OpenUnnamed(dir, mode, file.fd);
  if (unnamed.err != EOPNOTSUPP || unnamed_only) return unnamed;
  return Named(
      file, [&](const std::string& name) { return OpenNamed(dir, name.c_str(), mode, file.fd); });
}

Status LinkUnnamed(int fd, int dir, const char* name) {
  char self[32];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  return Sys(OnEintr::kRetry, [&] { return linkat(AT_FDCWD, self, dir, name, AT_SYMLINK_FOLLOW); });
}

Status RenameNoReplace(int dir, const char* from, const char* to) {
  Status renamed =
      Sys(OnEintr::kRetry, [&] { return renameat2(dir, from, dir, to, RENAME_NOREPLACE); });
  if (renamed.err != EINVAL) return renamed;
  renamed = Sys(OnEintr::kRetry, [&] { return linkat(dir, from, dir, to, 0); });
  if (renamed.ok()) unlinkat(dir, from, 0);
  return renamed;
}

Status Name(const Folder& folder, NewFile& file) {
  if (!file.name.empty()) return 0;
  return Named(file, [&](const std::string& name) {
    return LinkUnnamed(file.fd.get(), folder.fd.get(), name.c_str());
  });
}

Status Remove(const Folder& folder, NewFile& file) {
  (void)file.fd.Close();  // the file is not wanted
  for (std::string* name : {&file.name, &file.companion}) {
    if (name->empty()) continue;
    Status removed =
        Sys(OnEintr::kRetry, [&] { return unlinkat(folder.fd.get(), name->c_str(), 0); });
    // A file that stays keeps the record of whose it is.
    if (!removed.ok() && name == &file.name) return removed;
    name->clear();
  }
  return 0;
}

}  // namespace save_steps

using namespace save_steps;  // a recovery file is written when memory has run out: no allocation

namespace {

// `folder` and `name` joined into `out` ("" is the working folder); false when they do not fit.
bool Join(std::span<char> out, const char* folder, const char* name) {
  std::size_t length = std::strlen(folder);
  const char* slash = length > 0 && folder[length - 1] != '/' ? "/" : "";
  int n = std::snprintf(out.data(), out.size(), "%s%s%s", folder, slash, name);
  return n >= 0 && static_cast<std::size_t>(n) < out.size();
}

// Opens a new file in the folder open at `dir`: unnamed, or (then `named`) as `hidden` made unique.
Status Create(int dir, std::span<char> hidden, Fd& fd, bool& named) {
  named = false;
  if (Status unnamed = OpenUnnamed(dir, 0600, fd); unnamed.err != EOPNOTSUPP) return unnamed;
  Status made = TryUniqueNames(hidden.first(std::strlen(hidden.data())),
                               [&] { return OpenNamed(dir, hidden.data(), 0600, fd); });
  named = made.ok();
  return made;
}

}  // namespace

Status WriteNewFile(const char* folder, const char* base, const Pieces& bytes,
                    std::span<char> path) {
  if (!Join(path, folder, base)) return ENAMETOOLONG;
  Folder place;
  place.fd = Fd(RetryOnEintr(
      [&] { return open(folder[0] == '\0' ? "." : folder, O_PATH | O_DIRECTORY | O_CLOEXEC); }));
  if (!place.fd.valid()) return errno;
  int dir = place.fd.get();
  EntryName hidden;
  EntryName name;
  if (HiddenRecoveryPattern(base, hidden) == 0) return ENAMETOOLONG;
  Fd fd;
  bool hidden_named = false;
  if (Status created = Create(dir, hidden, fd, hidden_named); !created.ok()) return created;
  Status written = WritePieces(fd.get(), bytes);
  if (written.ok()) written = Sync(fd.get());
  // The first free name; a cut copy never bears one.
  bool named = false;
  for (int k = 0; written.ok() && !named && k < kRecoveryNames; ++k) {
    written = ENAMETOOLONG;
    if (RecoveryName(base, k, name) > 0) {
      written =
          hidden_named ? RenameNoReplace(dir, hidden, name) : LinkUnnamed(fd.get(), dir, name);
    }
    named = written.ok();
    if (written.err == EEXIST && k < kRecoveryNames - 1) written = 0;
  }
  if (!written.ok()) {
    (void)fd.Close();  // the copy is not wanted
    // A hidden copy that cannot be removed is named when a session next starts in that folder.
    if (hidden_named) unlinkat(dir, hidden, 0);
    return written;
  }
  (void)Join(path, folder, name);  // cut short only when the folder's path is near the limit
  (void)fd.Close();                // flushed and named: a failed close takes nothing from it
  // The file is named and whole; a folder that cannot be flushed does not undo that.
  (void)SyncFolder(place);
  return 0;
}
