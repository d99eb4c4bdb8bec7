#include "doc/save.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "core/fd.h"

std::size_t ImageSize(const Document& doc) {
  std::size_t size = 0;
  int last = DocLength(doc);
  for (int i = 0; i <= last; ++i) size += doc.text(i).size() + 1;
  return size;
}

void FormatLines(const Document& doc, std::span<char> image) {
  std::size_t at = 0;
  int last = DocLength(doc);
  for (int i = 0; i <= last; ++i) {
    std::string_view text = doc.text(i);
    if (!text.empty()) std::memcpy(image.data() + at, text.data(), text.size());
    at += text.size();
    image[at++] = '\n';
  }
}

namespace {

// Pieces at least this long go to the file as they lie; shorter ones are gathered first.
constexpr std::size_t kGather = 256 * 1024;

}  // namespace

Pieces DocumentPieces(const Document& doc) {
  return Pieces(ImageSize(doc), [&doc](const Pieces::Sink& sink) {
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kGather]);
    if (buffer == nullptr) return ENOMEM;
    std::size_t used = 0;
    auto flush = [&] { return used == 0 ? 0 : sink({buffer.get(), std::exchange(used, 0)}); };
    // Gathers short bytes; sends long ones (and what was gathered before them) as they are.
    auto put = [&](std::string_view bytes) {
      if (bytes.size() >= kGather) {
        if (int err = flush(); err != 0) return err;
        return sink(bytes);
      }
      if (used + bytes.size() > kGather) {
        if (int err = flush(); err != 0) return err;
      }
      if (!bytes.empty()) std::memcpy(buffer.get() + used, bytes.data(), bytes.size());
      used += bytes.size();
      return 0;
    };
    int last = DocLength(doc);
    for (int i = 0; i <= last;) {
      int next = i;
      std::string_view run = doc.LoadedRun(i, last, next);
      int err = 0;
      if (!run.empty()) {
        err = put(run);
        i = next;
      } else {
        err = put(doc.text(i));
        if (err == 0) err = put("\n");
        ++i;
      }
      if (err != 0) return err;
    }
    return flush();
  });
}

// ---------------------------------------------------------------------------------------------
// The file write
//
// The safe way replaces the target in one step: the new content goes to a temporary file in
// the target's folder, is flushed to disk, and the temporary file is renamed over the target,
// so that at every moment the target holds either its old or its new content. A rename
// cannot be used where it would change something besides the content, and the file is then
// written in place:
//   - the target has several hard links (the other names would keep the old content);
//   - the target is no regular file (a device, a FIFO);
//   - the folder cannot be written (no temporary file can be made there);
//   - the target belongs to another owner or group that the new file cannot be given.
// A symbolic link is followed and the file it points to is replaced, so the link survives.
// ---------------------------------------------------------------------------------------------

namespace {

// Longest chain of symbolic links followed, as the kernel allows.
constexpr int kMaxLinks = 40;

// Length of the folder part of `path`, its last slash included (0 for a bare name).
std::size_t FolderLength(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash == nullptr ? 0 : static_cast<std::size_t>(slash - path) + 1;
}

// Follows symbolic links from `path` to the entry that a write reaches, leaving its name in
// `target` (PATH_MAX bytes). The entry need not exist. Returns 0 or an errno.
int ResolveLinks(const char* path, char* target) {
  if (std::strlen(path) >= PATH_MAX) return ENAMETOOLONG;
  std::strcpy(target, path);
  for (int hops = 0; hops < kMaxLinks; ++hops) {
    struct stat st;
    if (lstat(target, &st) != 0 || !S_ISLNK(st.st_mode)) return 0;
    char link[PATH_MAX];
    ssize_t n = readlink(target, link, sizeof link);
    if (n < 0) return errno;
    if (n >= PATH_MAX) return ENAMETOOLONG;
    link[n] = '\0';
    // A relative link is read from the folder that holds it.
    std::size_t folder = link[0] == '/' ? 0 : FolderLength(target);
    if (folder + static_cast<std::size_t>(n) >= PATH_MAX) return ENAMETOOLONG;
    std::memcpy(target + folder, link, static_cast<std::size_t>(n) + 1);
  }
  return ELOOP;
}

// Writes every byte, carrying on after short writes. Returns 0 or an errno.
int WriteAll(int fd, std::span<const char> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

// Runs one step through the seam: its errno when the seam fails it, else the call's.
template <typename Call>
int Step(const FileSystem& fs, FsStep step, const char* path, Call call) {
  if (int err = fs.Check(step, path); err != 0) return err;
  return call();
}

int Errno(int result) {
  return result == 0 ? 0 : errno;
}

int WriteInPlace(const char* path, std::span<const char> bytes, const FileSystem& fs) {
  Fd fd;
  // Non-blocking open: a FIFO nobody reads fails at once instead of stopping the editor.
  int err = Step(fs, FsStep::kOpenTarget, path, [&] {
    fd = Fd(open(path, O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666));
    return fd.valid() ? 0 : errno;
  });
  if (err != 0) return err;
  int flags = fcntl(fd.get(), F_GETFL);
  if (flags < 0 || fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) err = errno;
  struct stat st;
  if (err == 0 && fstat(fd.get(), &st) != 0) err = errno;
  bool regular = err == 0 && S_ISREG(st.st_mode);
  off_t size = static_cast<off_t>(bytes.size());
  // Reserving the space first lets a full disk fail before any old byte is overwritten.
  if (err == 0 && regular) {
    err = Step(fs, FsStep::kAllocate, path, [&] {
      if (fallocate(fd.get(), 0, 0, size) == 0) return 0;
      return errno == EOPNOTSUPP || errno == ENOSYS || errno == EINVAL ? 0 : errno;
    });
  }
  if (err == 0) err = Step(fs, FsStep::kWrite, path, [&] { return WriteAll(fd.get(), bytes); });
  if (err == 0 && regular) {
    err = Step(fs, FsStep::kTruncate, path, [&] { return Errno(ftruncate(fd.get(), size)); });
  }
  if (err == 0 && regular) {
    err = Step(fs, FsStep::kSync, path, [&] { return Errno(fsync(fd.get())); });
  }
  int closed = Step(fs, FsStep::kClose, path, [&] { return fd.Close(); });
  return err != 0 ? err : closed;
}

// Gives the new file the target's owner and permission bits (or, for a new name, those a
// created file gets). Returns false when the owner cannot be kept.
bool MatchTarget(int fd, const struct stat* target) {
  if (target == nullptr) {
    mode_t mask = umask(0);
    umask(mask);
    return fchmod(fd, 0666 & ~mask) == 0;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  if ((st.st_uid != target->st_uid || st.st_gid != target->st_gid) &&
      fchown(fd, target->st_uid, target->st_gid) != 0) {
    return false;
  }
  // After the owner: a change of owner clears the set-id bits.
  return fchmod(fd, target->st_mode & 07777) == 0;
}

int SyncFolder(const char* path, std::size_t folder_length) {
  char folder[PATH_MAX] = ".";
  if (folder_length > 0) {
    std::memcpy(folder, path, folder_length);
    folder[folder_length] = '\0';
  }
  Fd fd(open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) return errno;
  return Errno(fsync(fd.get()));
}

}  // namespace

int WriteFileSafely(const char* path, std::span<const char> bytes, const FileSystem& fs) {
  char target[PATH_MAX];
  if (int err = ResolveLinks(path, target); err != 0) return err;

  struct stat st;
  bool exists = stat(target, &st) == 0;
  if (exists) {
    if (!S_ISREG(st.st_mode) || st.st_nlink > 1) return WriteInPlace(target, bytes, fs);
    // The rename must not replace a file that the user may not write.
    if (faccessat(AT_FDCWD, target, W_OK, AT_EACCESS) != 0) return errno;
  }

  static constexpr char kTempName[] = ".morvax-save-XXXXXX";
  std::size_t folder = FolderLength(target);
  if (folder + sizeof kTempName > PATH_MAX) return WriteInPlace(target, bytes, fs);
  char temp[PATH_MAX];
  std::memcpy(temp, target, folder);
  std::memcpy(temp + folder, kTempName, sizeof kTempName);
  Fd fd;
  int err = Step(fs, FsStep::kCreateTemp, temp, [&] {
    fd = Fd(mkostemp(temp, O_CLOEXEC));
    return fd.valid() ? 0 : errno;
  });
  if (err != 0) return WriteInPlace(target, bytes, fs);
  err = Step(fs, FsStep::kMatchOwner, temp,
             [&] { return MatchTarget(fd.get(), exists ? &st : nullptr) ? 0 : EPERM; });
  if (err != 0) {
    fd.Close();
    Step(fs, FsStep::kRemoveTemp, temp, [&] { return Errno(unlink(temp)); });
    return WriteInPlace(target, bytes, fs);
  }

  err = Step(fs, FsStep::kWrite, temp, [&] { return WriteAll(fd.get(), bytes); });
  if (err == 0) err = Step(fs, FsStep::kSync, temp, [&] { return Errno(fsync(fd.get())); });
  int closed = Step(fs, FsStep::kClose, temp, [&] { return fd.Close(); });
  if (err == 0) err = closed;
  if (err == 0)
    err = Step(fs, FsStep::kRename, target, [&] { return Errno(rename(temp, target)); });
  if (err != 0) {
    Step(fs, FsStep::kRemoveTemp, temp, [&] { return Errno(unlink(temp)); });
    return err;
  }
  // The new content is in place; a folder that cannot be flushed does not undo the save.
  Step(fs, FsStep::kSyncFolder, target, [&] { return SyncFolder(target, folder); });
  return 0;
}

void TakeStamp(FileStamp& stamp, const char* name, int fd) {
  stamp.known = std::strlen(name) < sizeof stamp.name &&
                (fd >= 0 ? fstat(fd, &stamp.info) : stat(name, &stamp.info)) == 0;
  if (stamp.known) std::strcpy(stamp.name, name);
}

bool ChangedSince(const FileStamp& stamp, const char* name) {
  struct stat now;
  if (!stamp.known || std::strcmp(stamp.name, name) != 0 || stat(name, &now) != 0) return false;
  const struct stat& then = stamp.info;
  return now.st_size != then.st_size || now.st_ino != then.st_ino || now.st_dev != then.st_dev ||
         now.st_mtim.tv_sec != then.st_mtim.tv_sec || now.st_mtim.tv_nsec != then.st_mtim.tv_nsec;
}

int WriteNewFile(const char* folder, const char* base, std::span<const char> bytes, char* path) {
  std::size_t folder_length = std::strlen(folder);
  const char* slash = folder_length > 0 && folder[folder_length - 1] != '/' ? "/" : "";
  for (int k = 0; k < 100; ++k) {
    int n = k == 0 ? std::snprintf(path, PATH_MAX, "%s%s%s", folder, slash, base)
                   : std::snprintf(path, PATH_MAX, "%s%s%s.%d", folder, slash, base, k);
    if (n < 0 || n >= PATH_MAX) return ENAMETOOLONG;
    Fd fd(open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid() && errno == EEXIST) continue;
    if (!fd.valid()) return errno;
    int err = WriteAll(fd.get(), bytes);
    if (err == 0) err = Errno(fsync(fd.get()));
    int closed = fd.Close();
    if (err == 0) err = closed;
    if (err != 0) {
      unlink(path);  // a cut-off copy would pass for the document
      return err;
    }
    SyncFolder(path, FolderLength(path));
    return 0;
  }
  return EEXIST;
}
