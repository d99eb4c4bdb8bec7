// Finding a save's target: the walk that follows links, the check that the file opened is the
// one the walk found, and ResolveLinks for the callers that only want to know where a name leads.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <utility>
#include <string>
#include <vector>

#include "core/fd.h"
#include "doc/save.h"
#include "doc/save_steps.h"

namespace save_steps {

namespace {

// Longest chain of symbolic links followed, as the kernel allows.
constexpr int kMaxLinks = 40;

// A folder's device and inode, which name it where no absolute path can be had; no absolute
// path starts this way.
std::string IdOf(const struct stat& folder) {
  return std::to_string(folder.st_dev) + ":" + std::to_string(folder.st_ino);
}

// Where the working folder (open at `fd`) is: its absolute path, of any length, or its IdOf
// when it has none (removed, or above a folder that cannot be read).
std::string WorkingFolder(int fd) {
  std::unique_ptr<char, decltype(&std::free)> path(getcwd(nullptr, 0), &std::free);
  if (path != nullptr && path.get()[0] == '/') return path.get();
  struct stat st;
  return fstat(fd, &st) == 0 ? IdOf(st) : std::string();
}

// The place `place` one component further: "." stays, ".." goes up (every folder on the way is
// a real one, so that is what ".." means). Above the folder a place starts from when it has no
// absolute path, `reached` (the folder that ".." reached, when known) names the place anew.
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

// A walk of a path to the entry that a write reaches (see Resolve).
class Walk {
 public:
  explicit Walk(Target& target) : target_(target) {}

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

  // The name's folder is not there to be walked: the place is where the entry would be.
  Status Unreached(Status failed, const std::string& name) {
    target_.unreached = true;
    for (Descend(target_.place, name); !pending_.empty(); pending_.pop_back()) {
      Descend(target_.place, pending_.back());
    }
    return failed;
  }

  Status Follow(int folder, int link, const struct stat& info);

  Target& target_;
  std::vector<std::string> pending_;  // the components still to be walked, the next one last
  std::vector<UntrustedLink> untrusted_;
  int hops_ = 0;
  bool last_seen_ = false;  // the name's own last part was walked
};

// Follows the link open at `link`, which lies in `folder`: its components go in front of those
// still to be walked.
Status Walk::Follow(int folder, int link, const struct stat& info) {
  if (++hops_ > kMaxLinks) return ELOOP;
  target_.through_link = true;
  if (PlantedLink(folder, info)) return EACCES;
  std::string text;
  if (Status read = ReadLink(link, text); !read.ok()) return read;
  if (Untrusted(info)) untrusted_.push_back({pending_.size(), info.st_uid});
  // A relative link goes on from the folder that holds it; an absolute one from the root.
  if (text[0] == '/') {
    if (Status started = StartAt(true, target_); !started.ok()) return started;
  }
  PushComponents(text, pending_);
  if (pending_.empty()) pending_.push_back(".");
  return 0;
}

Status Walk::Run(const char* path) {
  if (path[0] == '\0') return ENOENT;
  if (Status started = StartAt(path[0] == '/', target_); !started.ok()) return started;
  PushComponents(path, pending_);
  if (pending_.empty()) pending_.push_back(".");  // the root itself
  for (;;) {
    std::string name = std::move(pending_.back());
    pending_.pop_back();
    int folder = target_.folder.fd.get();
    Fd entry(RetryOnEintr(
        [&] { return openat(folder, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC); }));
    // The name's own last part is the first to leave nothing to walk after it (a link's parts
    // come before it).
    if (pending_.empty() && !std::exchange(last_seen_, true)) target_.entry = entry.valid();
    struct stat info;
    if (!entry.valid()) {
      // A missing last component is a new file, made in a folder of the links' owners.
      if (errno != ENOENT || !pending_.empty()) return Unreached(errno, name);
      if (fstat(folder, &info) != 0) return errno;
      if (!Owned(info)) return EACCES;
      target_.exists = false;
      target_.folder_info = info;
    } else if (RetryOnEintr([&] { return fstat(entry.get(), &info); }) != 0) {
      return errno;
    } else if (S_ISLNK(info.st_mode)) {
      if (Status followed = Follow(folder, entry.get(), info); !followed.ok()) return followed;
      continue;
    } else if (!Owned(info)) {
      return EACCES;
    } else if (!pending_.empty()) {
      if (!S_ISDIR(info.st_mode)) return Unreached(ENOTDIR, name);
      target_.folder.fd = std::move(entry);
      target_.folder.shown += name + "/";
      Descend(target_.place, name, &info);
      continue;
    } else {
      if (RetryOnEintr([&] { return fstat(folder, &target_.folder_info); }) != 0) return errno;
      target_.exists = true;
      target_.info = info;
    }
    target_.name = std::move(name);
    Descend(target_.place, target_.name, &info);
    return target_.Shown().size() >= PATH_MAX ? ENAMETOOLONG : 0;
  }
}

}  // namespace

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

using namespace save_steps;

Status Resolve(const char* path, Target& target) {
  return Walk(target).Run(path);
}

Status ResolveLinks(const char* path, Resolved& resolved) {
  Target found;
  Status walked = Resolve(path, found);
  resolved = {};
  if (walked.ok()) {
    resolved = {found.Shown(), found.Absolute(), found.through_link, std::move(found.folder.fd)};
  }
  return walked;
}
