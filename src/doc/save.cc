#include "doc/save.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
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
#include "core/path.h"
#include "core/signals.h"
#include "core/state_folder.h"

std::size_t ImageSize(const Document& doc) {
  std::size_t size = 0;
  int last = DocLength(doc);
  for (int i = 0; i <= last; ++i) size += doc.text(i).size() + 1;
  return size;
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
// The target is found once. Its path is walked one component at a time from each folder's
// descriptor (opened for the path alone, never following a link by itself); every symbolic
// link on the way is read and followed here, and each is checked as the kernel's protection
// for shared sticky folders would, whatever the kernel's setting. From then on the save works
// on descriptors: the folder's, for every entry it makes, links, renames or removes, and the
// target's own, opened without following a link and compared with what the walk found. No name
// is looked up twice to decide where bytes go: a target whose kind or identity changed in
// between fails the save (kTargetChanged) before a byte reaches it.
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
// that fails is the backup kept, and its name reported. A backup in the state folder has a
// companion that records the target's absolute path, written before the backup is named.
//
// Devices and FIFOs are written as they stand; there a handled signal abandons the write
// (a reader that never reads would otherwise hold the editor), while every other save
// finishes first and the signal is acted on afterwards.
// ---------------------------------------------------------------------------------------------

namespace {

// Longest chain of symbolic links followed, as the kernel allows.
constexpr int kMaxLinks = 40;
// Longest name of one folder entry.
constexpr std::size_t kMaxName = NAME_MAX;
// The random part of the names of files made beside a target.
constexpr char kRandom[] = "XXXXXX";
constexpr std::size_t kRandomSize = sizeof kRandom - 1;
// Bytes copied at a time into a backup.
constexpr std::size_t kCopyChunk = 1 << 20;

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

// `name` cut where it would leave less than `room` bytes of a folder entry's name.
std::string CutFor(std::string name, std::size_t room) {
  if (name.size() > kMaxName - room) name.resize(kMaxName - room);
  return name;
}

// Same file, same kind: what a check found and what was opened or is there now.
bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino &&
         (a.st_mode & S_IFMT) == (b.st_mode & S_IFMT);
}

// ---------------------------------------------------------------------------------------------
// Finding the target

/// A folder a save works in: its descriptor, and its path as the user's name leads to it ("" for
/// the working folder, else ending in "/"), which is what the seam and the messages see.
struct Folder {
  Fd fd;
  std::string shown;

  std::string Path(const std::string& name) const { return shown + name; }
  std::string Openable() const { return shown.empty() ? std::string(".") : shown; }
};

/// The entry a save writes, as the walk found it.
struct Target {
  Folder folder;         // the folder that holds it
  std::string name;      // its name there
  std::string absolute;  // its absolute path; "" when the working folder has none
  bool exists = false;
  bool through_link = false;  // a symbolic link was followed on the way
  struct stat info = {};      // what it is (never a link), when it exists

  std::string Shown() const { return folder.Path(name); }
};

std::string WorkingFolder() {
  char path[PATH_MAX];
  return getcwd(path, sizeof path) != nullptr ? std::string(path) : std::string();
}

// The absolute path `path` one component further: "." stays, ".." goes up (every folder on the
// way is a real one, so that is what ".." means).
void Descend(std::string& path, const std::string& name) {
  if (path.empty() || name == ".") return;
  if (name == "..") {
    path.resize(std::max<std::size_t>(path.rfind('/'), 1));
    return;
  }
  if (path.back() != '/') path += '/';
  path += name;
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

// Sets `target` to start a walk at the root or at the working folder.
int StartAt(bool root, Target& target) {
  target.folder.fd =
      Fd(RetryOnEintr([&] { return open(root ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC); }));
  if (!target.folder.fd.valid()) return errno;
  // Built a character at a time: g++ 12 at -O3 takes an assignment of "/" for an overlap.
  target.folder.shown.clear();
  target.absolute.clear();
  if (root) {
    target.folder.shown.push_back('/');
    target.absolute.push_back('/');
  } else {
    target.absolute = WorkingFolder();
  }
  return 0;
}

// True when a link that lies in `folder` must not be followed: the folder is world-writable
// and sticky (like /tmp), and the link belongs neither to the user nor to the folder's owner,
// so that another user may have planted it.
bool PlantedLink(int folder, const struct stat& link) {
  struct stat dir;
  if (fstat(folder, &dir) != 0) return false;
  bool shared = (dir.st_mode & S_ISVTX) != 0 && (dir.st_mode & S_IWOTH) != 0;
  return shared && link.st_uid != geteuid() && link.st_uid != dir.st_uid;
}

// The text of the link open at `fd`. Returns 0 or an errno.
int ReadLink(int fd, std::string& text) {
  char link[PATH_MAX];
  ssize_t n = readlinkat(fd, "", link, sizeof link);
  if (n < 0) return errno;
  if (n >= PATH_MAX) return ENAMETOOLONG;
  if (n == 0) return ENOENT;
  text.assign(link, static_cast<std::size_t>(n));
  return 0;
}

// Walks `path` to the entry that a write reaches, following symbolic links; the entry need not
// exist, its folder must. Returns 0 or an errno (EACCES for a link that may have been planted).
int Resolve(const char* path, Target& target) {
  if (path[0] == '\0') return ENOENT;
  if (int err = StartAt(path[0] == '/', target); err != 0) return err;
  std::vector<std::string> pending;
  PushComponents(path, pending);
  if (pending.empty()) pending.push_back(".");  // the root itself
  int hops = 0;
  for (;;) {
    std::string name = std::move(pending.back());
    pending.pop_back();
    int folder = target.folder.fd.get();
    Fd entry(RetryOnEintr(
        [&] { return openat(folder, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC); }));
    struct stat info;
    if (!entry.valid()) {
      // A missing last component is a new file; anything else fails the walk.
      if (errno != ENOENT || !pending.empty()) return errno;
      target.exists = false;
    } else if (fstat(entry.get(), &info) != 0) {
      return errno;
    } else if (S_ISLNK(info.st_mode)) {
      if (++hops > kMaxLinks) return ELOOP;
      target.through_link = true;
      if (PlantedLink(folder, info)) return EACCES;
      std::string link;
      if (int err = ReadLink(entry.get(), link); err != 0) return err;
      // A relative link goes on from the folder that holds it; an absolute one from the root.
      if (link[0] == '/') {
        if (int err = StartAt(true, target); err != 0) return err;
      }
      PushComponents(link, pending);
      if (pending.empty()) pending.push_back(".");
      continue;
    } else if (!pending.empty()) {
      if (!S_ISDIR(info.st_mode)) return ENOTDIR;
      target.folder.fd = std::move(entry);
      target.folder.shown += name + "/";
      Descend(target.absolute, name);
      continue;
    } else {
      target.exists = true;
      target.info = info;
    }
    target.name = std::move(name);
    Descend(target.absolute, target.name);
    return target.Shown().size() >= PATH_MAX ? ENAMETOOLONG : 0;
  }
}

// Opens the target the walk found, with `flags`, never following a link nor making a file,
// and checks that it is what was found (its state now goes to `now`). Returns 0, an errno, or
// kTargetChanged.
int OpenChecked(const Target& target, int flags, Fd& fd, struct stat& now) {
  fd = Fd(RetryOnEintr([&] {
    return openat(target.folder.fd.get(), target.name.c_str(),
                  flags | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  }));
  // Gone, or a link now.
  if (!fd.valid()) return errno == ENOENT || errno == ELOOP ? kTargetChanged : errno;
  if (fstat(fd.get(), &now) != 0) return errno;
  return SameFile(now, target.info) ? 0 : kTargetChanged;
}

// ---------------------------------------------------------------------------------------------
// New files: unnamed until complete where the system allows, else under a unique name

// Replaces the trailing X's of `name` with random letters and digits.
void Randomize(std::string& name) {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char random[kRandomSize];
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
// for another reason than an existing entry. Leaves the name made in `name`.
template <typename Make>
int WithUniqueName(const std::string& pattern, std::string& name, Make make) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = pattern;
    Randomize(candidate);
    int err = make(candidate);
    if (err == 0) name = std::move(candidate);
    if (err != EEXIST) return err;
  }
  return EEXIST;
}

/// A file being made in a folder: unnamed (O_TMPFILE) until Name() links it, or named from the
/// start.
struct NewFile {
  Fd fd;
  std::string pattern;    // the name to make unique
  std::string chosen;     // or the name it is to have, already known to be free
  std::string name;       // the name it has, empty while unnamed
  std::string companion;  // the name of its companion record, if it has one

  std::string Entry() const {
    if (!name.empty()) return name;
    return chosen.empty() ? pattern : chosen;
  }
};

// Unnamed files can be named only through /proc.
bool CanNameLater() {
  return access("/proc/self/fd", X_OK) == 0;
}

// Opens a new empty file in `folder`. Returns 0 or an errno.
int CreateIn(const Folder& folder, NewFile& file) {
  int dir = folder.fd.get();
  if (CanNameLater()) {
    file.fd =
        Fd(RetryOnEintr([&] { return openat(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600); }));
    if (file.fd.valid()) return 0;
    // Filesystems without unnamed files say so in one of these ways.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
  }
  auto make = [&](const std::string& name) {
    file.fd = Fd(RetryOnEintr([&] {
      return openat(dir, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    }));
    return file.fd.valid() ? 0 : errno;
  };
  if (file.chosen.empty()) return WithUniqueName(file.pattern, file.name, make);
  int err = make(file.chosen);
  if (err == 0) file.name = file.chosen;
  return err;
}

// Links the unnamed file open at `fd` into `folder` as `name`; never over an existing entry.
int LinkUnnamed(int fd, const Folder& folder, const std::string& name) {
  std::string self = "/proc/self/fd/" + std::to_string(fd);
  return Errno(RetryOnEintr([&] {
    return linkat(AT_FDCWD, self.c_str(), folder.fd.get(), name.c_str(), AT_SYMLINK_FOLLOW);
  }));
}

// Gives a complete unnamed file its name (the chosen one, or a unique one). Returns 0 or an
// errno.
int Name(const Folder& folder, NewFile& file) {
  if (!file.name.empty()) return 0;
  auto link = [&](const std::string& name) { return LinkUnnamed(file.fd.get(), folder, name); };
  if (file.chosen.empty()) return WithUniqueName(file.pattern, file.name, link);
  int err = link(file.chosen);
  if (err == 0) file.name = file.chosen;
  return err;
}

// Closes a file that is not wanted: an unnamed one vanishes, a named one is removed, and so
// is its companion.
void Discard(const Folder& folder, NewFile& file, FsStep remove, const FileSystem& fs) {
  file.fd.Close();
  for (std::string* name : {&file.name, &file.companion}) {
    if (name->empty()) continue;
    Step(fs, remove, folder.Path(*name), [&] {
      return Errno(RetryOnEintr([&] { return unlinkat(folder.fd.get(), name->c_str(), 0); }));
    });
    name->clear();
  }
}

// ---------------------------------------------------------------------------------------------
// Plain file steps

// Handled signals held back while a wait for a slow reader starts, so that none slips in
// between the check and the wait.
sigset_t HandledSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : {SIGINT, SIGHUP, SIGTERM}) sigaddset(&set, signal);
  return set;
}

// Waits until the non-blocking `fd` can take bytes. Returns 0, an errno, or EINTR as soon as a
// handled signal is pending.
int WaitWritable(int fd) {
  sigset_t handled = HandledSignals();
  sigset_t old;
  pthread_sigmask(SIG_BLOCK, &handled, &old);
  // The signals are let through only while waiting.
  int n = RetryOnEintr(
      [&] {
        struct pollfd wait = {fd, POLLOUT, 0};
        return ppoll(&wait, 1, nullptr, &old);
      },
      [] { return PendingSignal() != 0; });
  int err = n > 0 ? 0 : errno;
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return err;
}

// How a write treats a handled signal: a file's write finishes first; a device's or a FIFO's
// (non-blocking) is abandoned with EINTR.
enum class OnSignal { kFinish, kAbandon };

// Writes every byte from `offset` on, carrying on after short writes. Returns 0 or an errno.
int WriteAll(int fd, std::span<const char> bytes, off_t offset = -1,
             OnSignal on_signal = OnSignal::kFinish) {
  bool abandon = on_signal == OnSignal::kAbandon;
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
      if (int err = WaitWritable(fd); err != 0) return err;
      continue;
    }
    if (n < 0) return errno;
    if (n == 0) return EIO;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

// Writes every piece in order, from `offset` on (or from the descriptor's position when it is
// negative). Returns 0 or an errno.
int WritePieces(int fd, const Pieces& bytes, off_t offset = -1,
                OnSignal on_signal = OnSignal::kFinish) {
  return bytes.Each([&](std::span<const char> piece) {
    int err = WriteAll(fd, piece, offset, on_signal);
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
    ssize_t n = RetryOnEintr([&] { return pread(from, buffer.get(), want, at); });
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
  return Errno(RetryOnEintr([&] { return fsync(fd); }));
}

int SyncFolder(const Folder& folder) {
  Fd fd(RetryOnEintr(
      [&] { return openat(folder.fd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
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
  if (RetryOnEintr([&] { return fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size); }) == 0) return 0;
  return errno == EOPNOTSUPP || errno == ENOSYS || errno == EINVAL ? 0 : errno;
}

// Writes `text` to a new file `name` in `folder` and flushes it. Returns 0 or an errno (EEXIST
// when the name is taken); a failure leaves nothing.
int WriteRecord(const Folder& folder, const std::string& name, const std::string& text) {
  int dir = folder.fd.get();
  Fd fd(RetryOnEintr([&] {
    return openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  }));
  if (!fd.valid()) return errno;
  int err = WriteAll(fd.get(), text);
  if (err == 0) err = Sync(fd.get());
  int closed = Close(fd);
  if (err == 0) err = closed;
  if (err != 0) unlinkat(dir, name.c_str(), 0);
  return err;
}

// ---------------------------------------------------------------------------------------------
// Backups of the old content

// Copies `size` bytes of the open target to a new backup in `folder` and flushes it and its
// name to disk. In the state folder (`record`) its companion, holding the target's absolute
// path, is written and flushed first. Returns 0 or an errno; on failure no backup is left.
int BackupIn(const Folder& folder, bool record, const Target& target, int source, off_t size,
             const FileSystem& fs, NewFile& backup) {
  // The companion's name must fit as well.
  std::string suffix = record ? kBackupPathSuffix : "";
  backup.pattern = CutFor(target.name, sizeof kBackupMarker - 1 + kRandomSize + suffix.size()) +
                   kBackupMarker + kRandom;
  int err = 0;
  if (record) {
    err = Step(fs, FsStep::kRecordPath, folder.Path(backup.pattern + suffix), [&] {
      if (target.absolute.empty()) return ENOENT;
      int made = WithUniqueName(backup.pattern, backup.chosen, [&](const std::string& name) {
        return WriteRecord(folder, name + suffix, target.absolute + "\n");
      });
      if (made != 0) return made;
      backup.companion = backup.chosen + suffix;
      return SyncFolder(folder);
    });
  }
  if (err == 0) {
    err = Step(fs, FsStep::kCreateBackup, folder.Path(backup.Entry()), [&] {
      if (int created = CreateIn(folder, backup); created != 0) return created;
      return Errno(RetryOnEintr([&] { return fchmod(backup.fd.get(), 0600); }));
    });
  }
  if (err != 0) {
    Discard(folder, backup, FsStep::kRemoveBackup, fs);
    return err;
  }
  // The pattern until it is named: the seam sees which backup it is.
  auto path = [&] { return folder.Path(backup.Entry()); };
  err = Step(fs, FsStep::kCopyBackup, path(),
             [&] { return CopyBytes(source, backup.fd.get(), size); });
  if (err == 0) err = Step(fs, FsStep::kSyncBackup, path(), [&] { return Sync(backup.fd.get()); });
  if (err == 0) err = Step(fs, FsStep::kNameBackup, path(), [&] { return Name(folder, backup); });
  if (err == 0) {
    err = Step(fs, FsStep::kSyncFolder, folder.Openable(), [&] { return SyncFolder(folder); });
  }
  if (err != 0) Discard(folder, backup, FsStep::kRemoveBackup, fs);
  return err;
}

// Keeps the old content of the open target in a backup: beside the target, or where its folder
// cannot take it, in the state folder (opened into `state`). `place` receives the folder used.
// Returns 0 or the errno of the last place tried.
int MakeBackup(const Target& target, int source, off_t size, const FileSystem& fs,
               NewFile& backup, Folder& state, const Folder*& place) {
  place = &target.folder;
  int err = BackupIn(target.folder, false, target, source, size, fs, backup);
  if (err == 0) return 0;
  std::string path;
  if (!BackupFolder(path)) return err;
  err = Step(fs, FsStep::kMakeStateFolder, path, [&] {
    if (int made = MakeFolders(path); made != 0) return made;
    state.fd =
        Fd(RetryOnEintr([&] { return open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC); }));
    return state.fd.valid() ? 0 : errno;
  });
  if (err != 0) return err;
  state.shown = path + "/";
  place = &state;
  backup = NewFile{};
  return BackupIn(state, true, target, source, size, fs, backup);
}

// Puts the old content back into the target after a failed write: the bytes, the size, the
// flush. Returns 0 or an errno.
int Restore(int target, int backup, off_t size) {
  if (int err = CopyBytes(backup, target, size); err != 0) return err;
  if (RetryOnEintr([&] { return ftruncate(target, size); }) != 0) return errno;
  return Sync(target);
}

// ---------------------------------------------------------------------------------------------
// The three ways of writing

// Devices and FIFOs have no old content to keep: the bytes are written to them as they stand.
// The open does not wait (a FIFO nobody reads fails at once), and neither do the writes: a
// handled signal abandons the wait for a slow reader.
int WriteToDevice(const Target& target, const Pieces& bytes, const FileSystem& fs) {
  std::string shown = target.Shown();
  Fd fd;
  struct stat now;
  int err = Step(fs, FsStep::kOpenTarget, shown,
                 [&] { return OpenChecked(target, O_WRONLY | O_NONBLOCK, fd, now); });
  if (err != 0) return err;
  err = Step(fs, FsStep::kWrite, shown,
             [&] { return WritePieces(fd.get(), bytes, -1, OnSignal::kAbandon); });
  int closed = Step(fs, FsStep::kClose, shown, [&] { return Close(fd); });
  return err != 0 ? err : closed;
}

// A regular file written in place, its old content kept in a backup until the new content is
// on disk (see the picture above).
int WriteKeepingOld(const Target& target, const Pieces& bytes, const FileSystem& fs,
                    std::string* kept) {
  std::string shown = target.Shown();
  Fd fd;
  struct stat now;
  // Non-blocking: something put in its place cannot hold the open.
  int err = Step(fs, FsStep::kOpenTarget, shown,
                 [&] { return OpenChecked(target, O_RDWR | O_NONBLOCK, fd, now); });
  if (err != 0) return err;

  off_t old_size = now.st_size;
  NewFile backup;
  Folder state;
  const Folder* place = nullptr;
  err = MakeBackup(target, fd.get(), old_size, fs, backup, state, place);
  if (err != 0) return err;

  off_t size = static_cast<off_t>(bytes.size());
  err = Step(fs, FsStep::kAllocate, shown, [&] { return Reserve(fd.get(), size); });
  if (err == 0) {
    err = Step(fs, FsStep::kWrite, shown, [&] { return WritePieces(fd.get(), bytes, 0); });
  }
  if (err == 0) {
    err = Step(fs, FsStep::kTruncate, shown,
               [&] { return Errno(RetryOnEintr([&] { return ftruncate(fd.get(), size); })); });
  }
  if (err == 0) err = Step(fs, FsStep::kSync, shown, [&] { return Sync(fd.get()); });
  bool restored = err != 0 && Step(fs, FsStep::kRestore, shown, [&] {
                                return Restore(fd.get(), backup.fd.get(), old_size);
                              }) == 0;
  int closed = Step(fs, FsStep::kClose, shown, [&] { return Close(fd); });
  if (err == 0) err = closed;
  if (err == 0 || restored) {
    Discard(*place, backup, FsStep::kRemoveBackup, fs);
  } else if (kept != nullptr) {
    // Neither the new content nor the old is known to be whole in the target.
    *kept = place->Path(backup.name);
  }
  return err;
}

// Reasons a folder gives for refusing a new file, where the target can still be written in
// place.
bool Refuses(int err) {
  return err == EACCES || err == EPERM || err == EROFS;
}

// Puts the complete temporary file `temp` in the target's place: over the target, when it is
// still what the walk found, or under a name that nothing may have taken since.
int PutInPlace(const Target& target, const std::string& temp) {
  int dir = target.folder.fd.get();
  const char* name = target.name.c_str();
  if (target.exists) {
    struct stat now;
    if (fstatat(dir, name, &now, AT_SYMLINK_NOFOLLOW) != 0) {
      return errno == ENOENT ? kTargetChanged : errno;
    }
    if (!SameFile(now, target.info)) return kTargetChanged;
    return Errno(RetryOnEintr([&] { return renameat(dir, temp.c_str(), dir, name); }));
  }
  int err = Errno(
      RetryOnEintr([&] { return renameat2(dir, temp.c_str(), dir, name, RENAME_NOREPLACE); }));
  if (err == EINVAL) {
    // No rename that refuses to replace here: a second link, which never replaces.
    err = Errno(RetryOnEintr([&] { return linkat(dir, temp.c_str(), dir, name, 0); }));
    if (err == 0) unlinkat(dir, temp.c_str(), 0);
  }
  return err == EEXIST ? kTargetChanged : err;
}

// A regular file (or a new name) replaced through a temporary file and a rename.
int WriteByRename(const Target& target, const Pieces& bytes, const FileSystem& fs,
                  std::string* kept) {
  const struct stat* old = target.exists ? &target.info : nullptr;
  NewFile temp;
  // Appended in turn, for the same reason as in StartAt.
  temp.pattern.push_back('.');
  temp.pattern += CutFor(target.name, 1 + sizeof kTempMarker - 1 + kRandomSize);
  temp.pattern += kTempMarker;
  temp.pattern += kRandom;
  auto path = [&] { return target.folder.Path(temp.Entry()); };
  int err = Step(fs, FsStep::kCreateTemp, path(), [&] { return CreateIn(target.folder, temp); });
  if (err != 0) {
    return old != nullptr && Refuses(err) ? WriteKeepingOld(target, bytes, fs, kept) : err;
  }

  if (old != nullptr) {
    err = Step(fs, FsStep::kMatchOwner, path(), [&] {
      struct stat st;
      if (fstat(temp.fd.get(), &st) != 0) return errno;
      if (st.st_uid == old->st_uid && st.st_gid == old->st_gid) return 0;
      return Errno(RetryOnEintr([&] { return fchown(temp.fd.get(), old->st_uid, old->st_gid); }));
    });
    if (err != 0) {
      Discard(target.folder, temp, FsStep::kRemoveTemp, fs);
      return WriteKeepingOld(target, bytes, fs, kept);
    }
  }
  // After the owner: a change of owner clears the set-id bits.
  mode_t mode = old != nullptr ? old->st_mode & 07777 : 0666 & ~CurrentUmask();
  err = Step(fs, FsStep::kMatchMode, path(),
             [&] { return Errno(RetryOnEintr([&] { return fchmod(temp.fd.get(), mode); })); });
  if (err == 0) {
    err = Step(fs, FsStep::kWrite, path(), [&] { return WritePieces(temp.fd.get(), bytes); });
  }
  if (err == 0) err = Step(fs, FsStep::kSync, path(), [&] { return Sync(temp.fd.get()); });
  if (err == 0) {
    err = Step(fs, FsStep::kNameTemp, path(), [&] { return Name(target.folder, temp); });
  }
  if (err == 0) err = Step(fs, FsStep::kClose, path(), [&] { return Close(temp.fd); });
  if (err == 0) {
    err = Step(fs, FsStep::kRename, target.Shown(), [&] { return PutInPlace(target, temp.name); });
  }
  if (err != 0) {
    Discard(target.folder, temp, FsStep::kRemoveTemp, fs);
    return err;
  }
  // The new content is in place; a folder that cannot be flushed does not undo the save.
  Step(fs, FsStep::kSyncFolder, target.folder.Openable(),
       [&] { return SyncFolder(target.folder); });
  return 0;
}

}  // namespace

int ResolveLinks(const char* path, Resolved& resolved) {
  Target found;
  int err = Resolve(path, found);
  resolved = {};
  if (err == 0) resolved = {found.Shown(), std::move(found.absolute), found.through_link};
  return err;
}

bool BackupFolder(std::string& folder) {
  folder = StateFolder();
  if (folder.empty()) return false;
  folder += "/backup";
  return true;
}

int WriteFileSafely(const char* path, const Pieces& bytes, const FileSystem& fs,
                    std::string* kept) {
  Target target;
  if (int err = Resolve(path, target); err != 0) return err;
  if (!target.exists) return WriteByRename(target, bytes, fs, kept);
  if (!S_ISREG(target.info.st_mode)) return WriteToDevice(target, bytes, fs);
  if (target.info.st_nlink > 1) return WriteKeepingOld(target, bytes, fs, kept);
  // The rename must not replace a file that the user may not write.
  if (faccessat(target.folder.fd.get(), target.name.c_str(), W_OK,
                AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? kTargetChanged : errno;
  }
  return WriteByRename(target, bytes, fs, kept);
}

void TakeStamp(FileStamp& stamp, const char* name, int fd) {
  stamp = FileStamp{};
  Target target;
  if (Resolve(name, target) != 0 || target.absolute.empty()) return;
  stamp.known = true;
  stamp.exists = target.exists;
  stamp.path = std::move(target.absolute);
  stamp.info = target.info;
  // What was read counts over what the name shows now.
  if (fd >= 0 && fstat(fd, &stamp.info) == 0) stamp.exists = true;
}

DiskChange ChangedSince(const FileStamp& stamp, const char* name) {
  Target target;
  if (!stamp.known || Resolve(name, target) != 0) return DiskChange::kNone;
  const struct stat& then = stamp.info;
  const struct stat& now = target.info;
  bool same_path = !target.absolute.empty() && target.absolute == stamp.path;
  if (!stamp.exists) {
    return same_path && target.exists ? DiskChange::kCreated : DiskChange::kNone;
  }
  bool same_file = target.exists && now.st_dev == then.st_dev && now.st_ino == then.st_ino;
  if (!target.exists || (!same_path && !same_file)) return DiskChange::kNone;
  auto same_time = [](const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
  };
  // The change time also moves with the mode, the owner or the links, which change no text.
  bool attributes_kept = now.st_mode == then.st_mode && now.st_uid == then.st_uid &&
                         now.st_gid == then.st_gid && now.st_nlink == then.st_nlink;
  bool changed = !same_file || now.st_size != then.st_size ||
                 !same_time(now.st_mtim, then.st_mtim) ||
                 (attributes_kept && !same_time(now.st_ctim, then.st_ctim));
  return changed ? DiskChange::kChanged : DiskChange::kNone;
}

namespace {

// Gives the complete file `file` in `folder` the name `name`, never over an existing entry
// (EEXIST). Returns 0 or an errno.
int NameNew(const Folder& folder, NewFile& file, const std::string& name) {
  if (file.name.empty()) {
    int err = LinkUnnamed(file.fd.get(), folder, name);
    if (err == 0) file.name = name;
    return err;
  }
  int dir = folder.fd.get();
  const char* from = file.name.c_str();
  int err = Errno(
      RetryOnEintr([&] { return renameat2(dir, from, dir, name.c_str(), RENAME_NOREPLACE); }));
  if (err == EINVAL) {
    // No rename that refuses to replace here: a second link, then the first one goes.
    err = Errno(RetryOnEintr([&] { return linkat(dir, from, dir, name.c_str(), 0); }));
    if (err == 0) unlinkat(dir, from, 0);
  }
  if (err == 0) file.name = name;
  return err;
}

}  // namespace

int WriteNewFile(const std::string& folder, const char* base, const Pieces& bytes,
                 std::string& path) {
  path = JoinPath(folder, base);
  Folder place;
  place.fd = Fd(RetryOnEintr([&] {
    return open(folder.empty() ? "." : folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  }));
  if (!place.fd.valid()) return errno;
  NewFile file;
  file.pattern = std::string(".") + base + "-" + kRandom;
  const FileSystem none;
  if (int err = CreateIn(place, file); err != 0) return err;
  int err = WritePieces(file.fd.get(), bytes);
  if (err == 0) err = Sync(file.fd.get());
  // The first free name; a cut copy never bears one.
  bool named = false;
  for (int k = 0; err == 0 && !named && k < 100; ++k) {
    std::string name = k == 0 ? std::string(base) : std::string(base) + "." + std::to_string(k);
    err = NameNew(place, file, name);
    named = err == 0;
    if (err == EEXIST && k < 99) err = 0;
  }
  if (err != 0) {
    Discard(place, file, FsStep::kRemoveTemp, none);
    return err;
  }
  path = JoinPath(folder, file.name);
  file.fd.Close();
  SyncFolder(place);
  return 0;
}
