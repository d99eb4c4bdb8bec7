// Where a name leads: the walk that follows links, shared by the load and the save.
#include "doc/target.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/fd.h"
#include "core/signals.h"

namespace {

// Longest chain of symbolic links followed, as the kernel allows.
constexpr int kMaxLinks = 40;

// A folder's device and inode, which name it where it has no absolute path (none starts so).
std::string IdOf(const struct stat& folder) {
  return std::to_string(folder.st_dev) + ":" + std::to_string(folder.st_ino);
}

// Where the working folder (open at `fd`) is: its absolute path, or its IdOf when it has none.
std::string WorkingFolder(int fd) {
  std::unique_ptr<char, decltype(&std::free)> path(getcwd(nullptr, 0), &std::free);
  if (path != nullptr && path.get()[0] == '/') return path.get();
  struct stat st;
  return fstat(fd, &st) == 0 ? IdOf(st) : std::string();
}

// The place `place` one component further: "." stays, ".." goes up (every folder on the way is
// a real one). Above a place with no absolute path, `reached` (where ".." led) names it anew.
void Descend(std::string& place, const std::string& name, const struct stat* reached = nullptr) {
  if (place.empty() || name == ".") return;
  if (name == "..") {
    std::size_t slash = place.rfind('/');
    if (slash != std::string::npos) {
      place.resize(std::max<std::size_t>(slash, place[0] == '/' ? 1 : 0));
      return;
    }
    if (reached != nullptr) {
      place = IdOf(*reached);
      return;
    }
  }
  if (place.back() != '/') place += '/';
  place += name;
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
  if (pending.empty()) pending.push_back(".");  // the root itself
}

// Sets `target` to start a walk at the root or at the working folder.
Status StartAt(bool root, Target& target) {
  target.folder.fd =
      Fd(RetryOnEintr([&] { return open(root ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC); }));
  if (!target.folder.fd.valid()) return errno;
  // Built a character at a time: g++ 12 at -O3 takes an assignment of "/" for an overlap.
  target.folder.shown.clear();
  target.place.clear();
  if (root) {
    target.folder.shown.push_back('/');
    target.place.push_back('/');
  } else {
    target.place = WorkingFolder(target.folder.fd.get());
  }
  return 0;
}

// True when a link that lies in `folder` must not be followed: the folder is world-writable
// and sticky (like /tmp), and the link belongs neither to the user nor to the folder's owner,
// so that another user may have planted it.
bool PlantedLink(int folder, const struct stat& link) {
  struct stat dir;
  if (RetryOnEintr([&] { return fstat(folder, &dir); }) != 0) return false;
  bool shared = (dir.st_mode & S_ISVTX) != 0 && (dir.st_mode & S_IWOTH) != 0;
  return shared && link.st_uid != geteuid() && link.st_uid != dir.st_uid;
}

// A link that another user may have set, outside a shared sticky folder too: owned by neither
// the user nor root. It is followed only to what its owner owns.
struct UntrustedLink {
  std::size_t after;  // how many components of the walk follow the link's own
  uid_t owner;
};

bool Untrusted(const struct stat& link) {
  return link.st_uid != geteuid() && link.st_uid != 0;
}

// The text of the link open at `fd`.
Status ReadLink(int fd, std::string& text) {
  char link[PATH_MAX];
  ssize_t n = RetryOnEintr([&] { return readlinkat(fd, "", link, sizeof link); });
  if (n < 0) return errno;
  if (n >= PATH_MAX) return ENAMETOOLONG;
  if (n == 0) return ENOENT;
  text.assign(link, static_cast<std::size_t>(n));
  return 0;
}

// What a step of the walk gives when the walk goes on into a folder: no errno.
constexpr int kWalkedOn = -1;

// A walk of a path to the entry that a write reaches (see Resolve).
class Walk {
 public:
  Walk(Target& target, bool read) : target_(target), read_(read) {}

  Status Run(const char* path);

 private:
  // True when what the last components of untrusted links led to (`reached`) is their owners'.
  bool Owned(const struct stat& reached) {
    for (; !untrusted_.empty() && untrusted_.back().after == pending_.size();
         untrusted_.pop_back()) {
      if (reached.st_uid != untrusted_.back().owner) return false;
    }
    return true;
  }

  // A link refused: another user may have set it.
  Status Refused() {
    target_.refused = true;
    return EACCES;
  }

  // The name's folder is not there to be walked: the place is where the entry would be.
  Status Unreached(Status failed, const std::string& name) {
    target_.unreached = true;
    for (Descend(target_.place, name); !pending_.empty(); pending_.pop_back()) {
      Descend(target_.place, pending_.back());
    }
    return failed;
  }

  Fd Open(int folder, const std::string& name);
  Status Follow(int folder, const std::string& name, int link, const struct stat& info);
  Status Missing(int folder, const std::string& name);
  Status Found(int folder, Fd entry, std::string& name, struct stat& info);

  // The walk ends at `name` (`status` says how): its place, and a path that is not too long.
  Status End(std::string& name, const struct stat& info, Status status) {
    target_.name = std::move(name);
    Descend(target_.place, target_.name, &info);
    if (!status.ok()) return status;
    return target_.Path().size() >= PATH_MAX ? ENAMETOOLONG : 0;
  }

  Target& target_;
  bool read_;                         // the last part is opened for reading
  std::vector<std::string> pending_;  // the components still to be walked, the next one last
  std::vector<UntrustedLink> untrusted_;
  int hops_ = 0;
  bool last_seen_ = false;  // the name's own last part was walked
  int unread_ = 0;          // why the last part could not be opened for reading
};

// Opens the component `name` of `folder` without following it; for a load, the last one for
// reading (a link, which cannot be, is then opened as a link).
Fd Walk::Open(int folder, const std::string& name) {
  auto at = [&](int flags) { return openat(folder, name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC); };
  if (read_ && pending_.empty()) {
    Fd file(
        RetryOnEintr([&] { return at(O_RDONLY | O_NOCTTY); }, [] { return PendingSignal() != 0; }));
    if (file.valid() || errno == ENOENT || errno == EINTR) return file;
    // A file that cannot be read is still walked to, as a save would walk to it.
    if (errno != ELOOP) unread_ = errno;
  }
  return Fd(RetryOnEintr([&] { return at(O_PATH); }));
}

// Follows the link `name` open at `link`, which lies in `folder`: its components go in front of
// those still to be walked.
Status Walk::Follow(int folder, const std::string& name, int link, const struct stat& info) {
  if (++hops_ > kMaxLinks) return ELOOP;
  if (!target_.through_link) target_.link = target_.folder.Path(name);
  target_.through_link = true;
  if (PlantedLink(folder, info)) return Refused();
  std::string text;
  if (Status read = ReadLink(link, text); !read.ok()) return read;
  if (Untrusted(info)) {
    untrusted_.push_back({pending_.size(), info.st_uid});
    target_.link_owner = info.st_uid;
  }
  // A relative link goes on from the folder that holds it; an absolute one from the root.
  if (text[0] == '/') {
    if (Status started = StartAt(true, target_); !started.ok()) return started;
  }
  PushComponents(text, pending_);
  return 0;
}

// A missing last component is a new file, made in a folder of the links' owners.
Status Walk::Missing(int folder, const std::string& name) {
  if (errno != ENOENT || !pending_.empty()) return Unreached(errno, name);
  struct stat info;
  if (fstat(folder, &info) != 0) return errno;
  if (!Owned(info)) return Refused();
  target_.exists = false;
  target_.folder_info = info;
  std::string last = name;
  return End(last, info, 0);
}

// What an entry that is no link is: a folder to go on from, or the end of the walk.
Status Walk::Found(int folder, Fd entry, std::string& name, struct stat& info) {
  if (!Owned(info)) return Refused();
  if (!pending_.empty()) {
    if (!S_ISDIR(info.st_mode)) return Unreached(ENOTDIR, name);
    target_.passed.push_back({info.st_dev, info.st_ino, info.st_uid});
    target_.folder_info = info;
    target_.folder.fd = std::move(entry);
    target_.folder.shown += name + "/";
    Descend(target_.place, name, &info);
    return kWalkedOn;
  }
  if (RetryOnEintr([&] { return fstat(folder, &target_.folder_info); }) != 0) return errno;
  target_.exists = true;
  target_.info = info;
  if (read_ && unread_ == 0) target_.file = std::move(entry);
  return End(name, info, unread_);
}

Status Walk::Run(const char* path) {
  if (path[0] == '\0') return ENOENT;
  if (Status started = StartAt(path[0] == '/', target_); !started.ok()) return started;
  PushComponents(path, pending_);
  for (;;) {
    std::string name = std::move(pending_.back());
    pending_.pop_back();
    int folder = target_.folder.fd.get();
    Fd entry = Open(folder, name);
    // The name's own last part is the first to leave nothing to walk after it (a link's parts
    // come before it).
    if (pending_.empty() && !std::exchange(last_seen_, true)) target_.entry = entry.valid();
    struct stat info;
    Status step;
    if (!entry.valid()) {
      step = Missing(folder, name);
    } else if (Status looked = Examine(entry.get(), info, target_.id); !looked.ok()) {
      return looked;
    } else if (S_ISLNK(info.st_mode)) {
      if (Status followed = Follow(folder, name, entry.get(), info); !followed.ok())
        return followed;
      continue;
    } else {
      step = Found(folder, std::move(entry), name, info);
    }
    if (step.err != kWalkedOn) return step;
  }
}

}  // namespace

bool SameIdentity(const Identity& a, const Identity& b) {
  bool born_differs =
      a.born_known && b.born_known && (a.born_sec != b.born_sec || a.born_nsec != b.born_nsec);
  return a.dev == b.dev && a.ino == b.ino && !born_differs;
}

Status Examine(int fd, struct stat& info, Identity& id) {
  struct statx x;
  if (RetryOnEintr([&] {
        return statx(fd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME,
                     &x);
      }) != 0) {
    if (errno != ENOSYS) return errno;
    if (RetryOnEintr([&] { return fstat(fd, &info); }) != 0) return errno;
    id = {info.st_dev, info.st_ino, false, 0, 0};
    return 0;
  }
  info = {};  // what the save and the stamp compare
  info.st_dev = makedev(x.stx_dev_major, x.stx_dev_minor);
  info.st_ino = x.stx_ino;
  info.st_mode = x.stx_mode;
  info.st_nlink = x.stx_nlink;
  info.st_uid = x.stx_uid;
  info.st_gid = x.stx_gid;
  info.st_size = static_cast<off_t>(x.stx_size);
  info.st_mtim = {x.stx_mtime.tv_sec, x.stx_mtime.tv_nsec};
  info.st_ctim = {x.stx_ctime.tv_sec, x.stx_ctime.tv_nsec};
  bool born = (x.stx_mask & STATX_BTIME) != 0;
  id = {info.st_dev, info.st_ino, born, born ? x.stx_btime.tv_sec : 0,
        born ? x.stx_btime.tv_nsec : 0};
  return 0;
}

Status Resolve(const char* path, Target& target) {
  return Walk(target, false).Run(path);
}

Status ResolveToRead(const char* path, Target& target) {
  return Walk(target, true).Run(path);
}

bool KernelResolved(const char* path) {
  std::string_view name = path;
  if (name == "/dev/stdin" || name.starts_with("/dev/fd/") || name.starts_with("/proc/self/fd/")) {
    return true;
  }
  if (!name.starts_with("/proc/")) return false;
  name.remove_prefix(6);
  std::size_t digits = name.find_first_not_of("0123456789");
  return digits > 0 && digits != std::string_view::npos && name.substr(digits).starts_with("/fd/");
}

bool FolderRemoved(const Target& target) {
  struct stat st;
  return target.folder.fd.valid() && fstat(target.folder.fd.get(), &st) == 0 && st.st_nlink == 0;
}
