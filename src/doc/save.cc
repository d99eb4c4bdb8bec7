#include "doc/save.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "core/fd.h"
#include "core/state_folder.h"

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
// so that at every moment the target holds either its old or its new content. The temporary
// file has no name until it is complete (where the system allows), so a crash leaves nothing
// behind. A rename cannot be used where it would change something besides the content, and
// the file is then written in place:
//   - the target has several hard links (the other names would keep the old content);
//   - the target is no regular file (a device, a FIFO);
//   - the folder refuses a new file (permission denied, a read-only filesystem);
//   - the target belongs to another owner or group that the new file cannot be given.
// Any other reason a temporary file cannot be made (no space, no inodes, a quota, too many
// open files, a name too long) fails the save before anything is written.
//
// An in-place write of a regular file first copies the old content to a backup, flushed to
// disk with its folder entry before the target is touched, so that a crash at any moment
// leaves the old content whole in the target or in the backup:
//
//   target  old ---------------------- old|new... ---- new ---------- new
//   backup  (none) -- copy, flush, name -- old ------------ old -- removed
//
// A write that fails puts the old content back from the backup and removes it; only when even
// that fails is the backup kept, and its name reported.
//
// A symbolic link is followed and the file it points to is replaced, so the link survives.
// The links are resolved here, one path component at a time, and each is checked as the
// kernel's protection for shared sticky folders would, whatever the kernel's setting.
// ---------------------------------------------------------------------------------------------

namespace {

// Longest chain of symbolic links followed, as the kernel allows.
constexpr int kMaxLinks = 40;
// Longest name of one folder entry.
constexpr std::size_t kMaxName = NAME_MAX;
// Names of the files made beside a target; the X's become random characters.
constexpr char kTempName[] = ".morvax-save-XXXXXX";
constexpr char kBackupSuffix[] = ".morvax-backup-XXXXXX";
// Bytes copied at a time into a backup.
constexpr std::size_t kCopyChunk = 1 << 20;

// Runs a system call again while a handled signal interrupts it: the signal is acted on once
// the save is over.
template <typename Call>
auto Retry(Call call) {
  decltype(call()) result;
  do {
    result = call();
  } while (result == -1 && errno == EINTR);
  return result;
}

int Errno(int result) {
  return result == 0 ? 0 : errno;
}

mode_t CurrentUmask() {
  mode_t mask = umask(0);
  umask(mask);
  return mask;
}

// Runs one step through the seam: its errno when the seam fails it, else the call's.
template <typename Call>
int Step(const FileSystem& fs, FsStep step, const std::string& path, Call call) {
  if (int err = fs.Check(step, path.c_str()); err != 0) return err;
  return call();
}

// The folder part of `path`, its last slash included ("" for a bare name).
std::string FolderOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A folder as a path that can be opened ("." for the working folder).
std::string Openable(const std::string& folder) {
  return folder.empty() ? std::string(".") : folder;
}

// ---------------------------------------------------------------------------------------------
// Symbolic links

// "a" in "" is "a"; in "/" it is "/a"; in "x/y" it is "x/y/a".
std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// Puts the components of `path` in front of those still to be walked (`pending` is walked
// from its back). A trailing slash walks ".", so that it still asks for a folder.
void PushComponents(const std::string& path, std::vector<std::string>& pending) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = std::min(path.find('/', start), path.size());
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  if (path.size() > 1 && path.back() == '/') parts.push_back(".");
  pending.insert(pending.end(), parts.rbegin(), parts.rend());
}

// True when a link that lies in `folder` must not be followed: the folder is world-writable
// and sticky (like /tmp), and the link belongs neither to the user nor to the folder's owner,
// so that another user may have planted it.
bool PlantedLink(const std::string& folder, const struct stat& link) {
  struct stat dir;
  if (Retry([&] { return stat(Openable(folder).c_str(), &dir); }) != 0) return false;
  bool shared = (dir.st_mode & S_ISVTX) != 0 && (dir.st_mode & S_IWOTH) != 0;
  return shared && link.st_uid != geteuid() && link.st_uid != dir.st_uid;
}

}  // namespace

// Follows the symbolic links on the way from `path` to the entry that a write reaches, leaving
// its name in `target`; the entry need not exist. Every folder added to `target` is a real one,
// so a ".." after it means what the kernel takes it to mean. A component that cannot be looked
// at is taken as it stands: the write then reports why. Returns 0 or an errno.
int ResolveLinks(const char* path, std::string& target) {
  // Built a character at a time: g++ 12 at -O3 takes an assignment of "/" for an overlap.
  target.clear();
  if (path[0] == '/') target.push_back('/');
  std::vector<std::string> pending;
  PushComponents(path, pending);
  int hops = 0;
  while (!pending.empty()) {
    std::string next = Join(target, pending.back());
    pending.pop_back();
    struct stat st;
    if (Retry([&] { return lstat(next.c_str(), &st); }) != 0 || !S_ISLNK(st.st_mode)) {
      target = std::move(next);
      continue;
    }
    if (++hops > kMaxLinks) return ELOOP;
    if (PlantedLink(target, st)) return EACCES;
    char link[PATH_MAX];
    ssize_t n = readlink(next.c_str(), link, sizeof link);
    if (n < 0) return errno;
    if (n >= PATH_MAX) return ENAMETOOLONG;
    if (n == 0) return ENOENT;
    // A relative link is read from the folder that holds it; an absolute one from the root.
    if (link[0] == '/') target.assign(1, '/');
    PushComponents(std::string(link, static_cast<std::size_t>(n)), pending);
  }
  if (target.empty()) target = path;  // "" stays "" and fails as such
  return target.size() >= PATH_MAX ? ENAMETOOLONG : 0;
}

namespace {

// ---------------------------------------------------------------------------------------------
// New files: unnamed until complete where the system allows, else under a unique name

// Replaces the trailing X's of `name` with random letters and digits.
void Randomize(std::string& name) {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char random[6];
  if (getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
    // No entropy yet: the clock and the process id are unique enough, and a clash only means
    // another try.
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    unsigned long long mix = (static_cast<unsigned long long>(now.tv_nsec) * 2654435761u) ^
                             (static_cast<unsigned long long>(getpid()) << 20) ^
                             static_cast<unsigned long long>(now.tv_sec);
    for (unsigned char& r : random) {
      r = static_cast<unsigned char>(mix);
      mix = (mix >> 8) | (mix << 56);
    }
  }
  std::size_t at = name.size() - sizeof random;
  for (std::size_t i = 0; i < sizeof random; ++i) {
    name[at + i] = kChars[random[i] % (sizeof kChars - 1)];
  }
}

// Tries unique names from `pattern` (ending in six X's) until `make(name)` succeeds or fails
// for another reason than an existing entry. Leaves the name used in `name`.
template <typename Make>
int WithUniqueName(const std::string& pattern, std::string& name, Make make) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = pattern;
    Randomize(name);
    int err = make(name);
    if (err != EEXIST) return err;
  }
  return EEXIST;
}

/// A file being made: unnamed (O_TMPFILE) until Name() links it, or named from the start.
struct NewFile {
  Fd fd;
  std::string pattern;  // the name to make unique
  std::string name;     // the name it has, empty while unnamed
};

// Unnamed files can be named only through /proc.
bool CanNameLater() {
  return access("/proc/self/fd", X_OK) == 0;
}

// Opens a new empty file in `folder` for `file.pattern`. Returns 0 or an errno.
int CreateIn(const std::string& folder, NewFile& file) {
  if (CanNameLater()) {
    file.fd = Fd(Retry(
        [&] { return open(Openable(folder).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600); }));
    if (file.fd.valid()) return 0;
    // Filesystems without unnamed files say so in one of these ways.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
  }
  return WithUniqueName(file.pattern, file.name, [&](const std::string& name) {
    file.fd = Fd(Retry([&] {
      return open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    }));
    return file.fd.valid() ? 0 : errno;
  });
}

// Gives a complete unnamed file a unique name. Returns 0 or an errno.
int Name(NewFile& file) {
  if (!file.name.empty()) return 0;
  std::string self = "/proc/self/fd/" + std::to_string(file.fd.get());
  std::string name;
  int err = WithUniqueName(file.pattern, name, [&](const std::string& candidate) {
    return Errno(Retry([&] {
      return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW);
    }));
  });
  if (err == 0) file.name = std::move(name);
  return err;
}

// Closes a file that is not wanted: an unnamed one vanishes, a named one is removed.
void Discard(NewFile& file, FsStep remove, const FileSystem& fs) {
  file.fd.Close();
  if (file.name.empty()) return;
  Step(fs, remove, file.name,
       [&] { return Errno(Retry([&] { return unlink(file.name.c_str()); })); });
  file.name.clear();
}

// ---------------------------------------------------------------------------------------------
// Plain file steps

// Writes every byte from `offset` on, carrying on after short writes. Returns 0 or an errno.
int WriteAll(int fd, std::span<const char> bytes, off_t offset = -1) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const char* from = bytes.data() + done;
    std::size_t left = bytes.size() - done;
    ssize_t n = Retry([&] {
      return offset < 0 ? write(fd, from, left)
                        : pwrite(fd, from, left, offset + static_cast<off_t>(done));
    });
    if (n < 0) return errno;
    if (n == 0) return EIO;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

// Writes every piece in order, from `offset` on (or from the descriptor's position when it is
// negative). Returns 0 or an errno.
int WritePieces(int fd, const Pieces& bytes, off_t offset = -1) {
  return bytes.Each([&](std::span<const char> piece) {
    int err = WriteAll(fd, piece, offset);
    if (offset >= 0) offset += static_cast<off_t>(piece.size());
    return err;
  });
}

// Copies the first `size` bytes of `from` to the same offsets of `to`. Returns 0 or an errno
// (EIO when `from` turns out shorter).
int CopyBytes(int from, int to, off_t size) {
  std::size_t chunk = std::min(kCopyChunk, static_cast<std::size_t>(std::max<off_t>(size, 1)));
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[chunk]);
  if (buffer == nullptr) return ENOMEM;
  for (off_t at = 0; at < size;) {
    std::size_t want = std::min(chunk, static_cast<std::size_t>(size - at));
    ssize_t n = Retry([&] { return pread(from, buffer.get(), want, at); });
    if (n < 0) return errno;
    if (n == 0) return EIO;
    if (int err = WriteAll(to, {buffer.get(), static_cast<std::size_t>(n)}, at); err != 0) {
      return err;
    }
    at += n;
  }
  return 0;
}

int Sync(int fd) {
  return Errno(Retry([&] { return fsync(fd); }));
}

int SyncFolder(const std::string& folder) {
  Fd fd(Retry([&] { return open(Openable(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
  if (!fd.valid()) return errno;
  return Sync(fd.get());
}

// Closing: an interrupted close has still closed the descriptor on this system.
int Close(Fd& fd) {
  int err = fd.Close();
  return err == EINTR ? 0 : err;
}

// Reserves the space for `size` bytes without changing the file's size, so that a full disk
// fails before any old byte is overwritten and leaves the file as it was. Filesystems that
// cannot reserve are written without.
int Reserve(int fd, off_t size) {
  if (size == 0) return 0;
  if (Retry([&] { return fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size); }) == 0) return 0;
  return errno == EOPNOTSUPP || errno == ENOSYS || errno == EINVAL ? 0 : errno;
}

// ---------------------------------------------------------------------------------------------
// Backups of the old content

// The backup's name pattern in `folder`: the target's base name, cut where it would make the
// name too long, and a unique suffix.
std::string BackupPattern(const std::string& folder, const std::string& target) {
  std::string base = target.substr(FolderOf(target).size());
  constexpr std::size_t kRoom = kMaxName - (sizeof kBackupSuffix - 1);
  if (base.size() > kRoom) base.resize(kRoom);
  return folder + base + kBackupSuffix;
}

// Copies `size` bytes of the open target to a new backup in `folder` (a path ending in "/",
// or "" for the working folder) and flushes it and its name to disk. Returns 0 or an errno;
// on failure no backup is left.
int BackupIn(const std::string& folder, const std::string& target, int source, off_t size,
             const FileSystem& fs, NewFile& backup) {
  backup.pattern = BackupPattern(folder, target);
  int err = Step(fs, FsStep::kCreateBackup, backup.pattern, [&] {
    if (int created = CreateIn(folder, backup); created != 0) return created;
    return Errno(Retry([&] { return fchmod(backup.fd.get(), 0600); }));
  });
  if (err != 0) {
    Discard(backup, FsStep::kRemoveBackup, fs);
    return err;
  }
  // The pattern until it is named: the seam sees which backup it is.
  auto path = [&] { return backup.name.empty() ? backup.pattern : backup.name; };
  err = Step(fs, FsStep::kCopyBackup, path(),
             [&] { return CopyBytes(source, backup.fd.get(), size); });
  if (err == 0) err = Step(fs, FsStep::kSyncBackup, path(), [&] { return Sync(backup.fd.get()); });
  if (err == 0) err = Step(fs, FsStep::kNameBackup, path(), [&] { return Name(backup); });
  if (err == 0) {
    err = Step(fs, FsStep::kSyncFolder, Openable(folder), [&] { return SyncFolder(folder); });
  }
  if (err != 0) Discard(backup, FsStep::kRemoveBackup, fs);
  return err;
}

// Keeps the old content of the open target in a backup: beside the target, or where its folder
// cannot take it, in the state folder. Returns 0 or the errno of the last place tried.
int MakeBackup(const std::string& target, int source, off_t size, const FileSystem& fs,
               NewFile& backup) {
  int err = BackupIn(FolderOf(target), target, source, size, fs, backup);
  if (err == 0) return 0;
  std::string state;
  if (!BackupFolder(state)) return err;
  err = Step(fs, FsStep::kMakeStateFolder, state, [&] { return MakeFolders(state); });
  if (err != 0) return err;
  return BackupIn(state + "/", target, source, size, fs, backup);
}

// Puts the old content back into the target after a failed write: the bytes, the size, the
// flush. Returns 0 or an errno.
int Restore(int target, int backup, off_t size) {
  if (int err = CopyBytes(backup, target, size); err != 0) return err;
  if (Retry([&] { return ftruncate(target, size); }) != 0) return errno;
  return Sync(target);
}

// ---------------------------------------------------------------------------------------------
// The three ways of writing

// Devices and FIFOs have no old content to keep: the bytes are written to them as they stand.
int WriteInPlace(const std::string& path, const Pieces& bytes, const FileSystem& fs) {
  Fd fd;
  // Non-blocking open: a FIFO nobody reads fails at once instead of stopping the editor.
  int err = Step(fs, FsStep::kOpenTarget, path, [&] {
    fd = Fd(Retry(
        [&] { return open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666); }));
    return fd.valid() ? 0 : errno;
  });
  if (err != 0) return err;
  int flags = fcntl(fd.get(), F_GETFL);
  if (flags < 0 || fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) err = errno;
  struct stat st;
  if (err == 0 && fstat(fd.get(), &st) != 0) err = errno;
  bool regular = err == 0 && S_ISREG(st.st_mode);
  off_t size = static_cast<off_t>(bytes.size());
  if (err == 0 && regular) {
    err = Step(fs, FsStep::kAllocate, path, [&] { return Reserve(fd.get(), size); });
  }
  if (err == 0) err = Step(fs, FsStep::kWrite, path, [&] { return WritePieces(fd.get(), bytes); });
  if (err == 0 && regular) {
    err = Step(fs, FsStep::kTruncate, path,
               [&] { return Errno(Retry([&] { return ftruncate(fd.get(), size); })); });
  }
  if (err == 0 && regular) err = Step(fs, FsStep::kSync, path, [&] { return Sync(fd.get()); });
  int closed = Step(fs, FsStep::kClose, path, [&] { return Close(fd); });
  return err != 0 ? err : closed;
}

// A regular file written in place, its old content kept in a backup until the new content is
// on disk (see the picture above).
int WriteKeepingOld(const std::string& target, const Pieces& bytes, const FileSystem& fs,
                    std::string* kept) {
  Fd fd;
  int err = Step(fs, FsStep::kOpenTarget, target, [&] {
    fd = Fd(Retry([&] { return open(target.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW); }));
    return fd.valid() ? 0 : errno;
  });
  if (err != 0) return err;
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return errno;
  // Replaced by something else since it was looked at.
  if (!S_ISREG(st.st_mode)) {
    fd.Close();
    return WriteInPlace(target, bytes, fs);
  }

  off_t old_size = st.st_size;
  NewFile backup;
  err = MakeBackup(target, fd.get(), old_size, fs, backup);
  if (err != 0) return err;

  off_t size = static_cast<off_t>(bytes.size());
  err = Step(fs, FsStep::kAllocate, target, [&] { return Reserve(fd.get(), size); });
  if (err == 0) {
    err = Step(fs, FsStep::kWrite, target, [&] { return WritePieces(fd.get(), bytes, 0); });
  }
  if (err == 0) {
    err = Step(fs, FsStep::kTruncate, target,
               [&] { return Errno(Retry([&] { return ftruncate(fd.get(), size); })); });
  }
  if (err == 0) err = Step(fs, FsStep::kSync, target, [&] { return Sync(fd.get()); });
  bool restored = err != 0 && Step(fs, FsStep::kRestore, target, [&] {
                                return Restore(fd.get(), backup.fd.get(), old_size);
                              }) == 0;
  int closed = Step(fs, FsStep::kClose, target, [&] { return Close(fd); });
  if (err == 0) err = closed;
  if (err == 0 || restored) {
    Discard(backup, FsStep::kRemoveBackup, fs);
  } else if (kept != nullptr) {
    // Neither the new content nor the old is known to be whole in the target.
    *kept = backup.name;
  }
  return err;
}

// Reasons a folder gives for refusing a new file, where the target can still be written in
// place.
bool Refuses(int err) {
  return err == EACCES || err == EPERM || err == EROFS;
}

// A regular file (or a new name) replaced through a temporary file and a rename.
int WriteByRename(const std::string& target, const struct stat* old, const Pieces& bytes,
                  const FileSystem& fs, std::string* kept) {
  std::string folder = FolderOf(target);
  if (folder.size() + sizeof kTempName > PATH_MAX) return ENAMETOOLONG;
  NewFile temp;
  temp.pattern = folder + kTempName;
  int err = Step(fs, FsStep::kCreateTemp, temp.pattern, [&] { return CreateIn(folder, temp); });
  if (err != 0) {
    return old != nullptr && Refuses(err) ? WriteKeepingOld(target, bytes, fs, kept) : err;
  }
  auto path = [&] { return temp.name.empty() ? temp.pattern : temp.name; };

  if (old != nullptr) {
    err = Step(fs, FsStep::kMatchOwner, path(), [&] {
      struct stat st;
      if (fstat(temp.fd.get(), &st) != 0) return errno;
      if (st.st_uid == old->st_uid && st.st_gid == old->st_gid) return 0;
      return Errno(Retry([&] { return fchown(temp.fd.get(), old->st_uid, old->st_gid); }));
    });
    if (err != 0) {
      Discard(temp, FsStep::kRemoveTemp, fs);
      return WriteKeepingOld(target, bytes, fs, kept);
    }
  }
  // After the owner: a change of owner clears the set-id bits.
  mode_t mode = old != nullptr ? old->st_mode & 07777 : 0666 & ~CurrentUmask();
  err = Step(fs, FsStep::kMatchMode, path(),
             [&] { return Errno(Retry([&] { return fchmod(temp.fd.get(), mode); })); });
  if (err == 0) {
    err = Step(fs, FsStep::kWrite, path(), [&] { return WritePieces(temp.fd.get(), bytes); });
  }
  if (err == 0) err = Step(fs, FsStep::kSync, path(), [&] { return Sync(temp.fd.get()); });
  if (err == 0) err = Step(fs, FsStep::kNameTemp, path(), [&] { return Name(temp); });
  if (err == 0) err = Step(fs, FsStep::kClose, path(), [&] { return Close(temp.fd); });
  if (err == 0) {
    err = Step(fs, FsStep::kRename, target, [&] {
      return Errno(Retry([&] { return rename(temp.name.c_str(), target.c_str()); }));
    });
  }
  if (err != 0) {
    Discard(temp, FsStep::kRemoveTemp, fs);
    return err;
  }
  // The new content is in place; a folder that cannot be flushed does not undo the save.
  Step(fs, FsStep::kSyncFolder, Openable(folder), [&] { return SyncFolder(folder); });
  return 0;
}

}  // namespace

bool BackupFolder(std::string& folder) {
  folder = StateFolder();
  if (folder.empty()) return false;
  folder += "/backup";
  return true;
}

int WriteFileSafely(const char* path, const Pieces& bytes, const FileSystem& fs,
                    std::string* kept) {
  std::string target;
  if (int err = ResolveLinks(path, target); err != 0) return err;

  struct stat st;
  if (Retry([&] { return stat(target.c_str(), &st); }) != 0) {
    return WriteByRename(target, nullptr, bytes, fs, kept);
  }
  if (!S_ISREG(st.st_mode)) return WriteInPlace(target, bytes, fs);
  if (st.st_nlink > 1) return WriteKeepingOld(target, bytes, fs, kept);
  // The rename must not replace a file that the user may not write.
  if (faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return errno;
  return WriteByRename(target, &st, bytes, fs, kept);
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

int WriteNewFile(const std::string& folder, const char* base, const Pieces& bytes,
                 std::string& path) {
  std::string stem = Join(folder, base);
  for (int k = 0; k < 100; ++k) {
    path = k == 0 ? stem : stem + "." + std::to_string(k);
    if (path.size() >= PATH_MAX) return ENAMETOOLONG;
    Fd fd(Retry([&] {
      return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    }));
    if (!fd.valid() && errno == EEXIST) continue;
    if (!fd.valid()) return errno;
    int err = WritePieces(fd.get(), bytes);
    if (err == 0) err = Sync(fd.get());
    int closed = Close(fd);
    if (err == 0) err = closed;
    if (err != 0) {
      unlink(path.c_str());  // a cut-off copy would pass for the document
      return err;
    }
    SyncFolder(FolderOf(path));
    return 0;
  }
  return EEXIST;
}
