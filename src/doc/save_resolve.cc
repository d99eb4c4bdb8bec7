// Finding a save's target: the walk that follows links, the check that the file opened is the
// one the walk found, and ResolveLinks for the callers that only want to know where a name leads.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include "core/fd.h"
#include "doc/save.h"
#include "doc/save_steps.h"

namespace save_steps {

namespace {

// Longest chain of symbolic links followed, as the kernel allows.
constexpr int kMaxLinks = 40;

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

}  // namespace

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

SaveResult OpenChecked(const Target& target, int flags, Fd& fd, struct stat& now) {
  fd = Fd(RetryOnEintr([&] {
    return openat(target.folder.fd.get(), target.name.c_str(),
                  flags | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  }));
  // Gone, or a link now.
  if (!fd.valid()) return errno == ENOENT || errno == ELOOP ? Changed() : Failed(errno);
  if (fstat(fd.get(), &now) != 0) return Failed(errno);
  return SameFile(now, target.info) ? SaveResult{} : Changed();
}

}  // namespace save_steps

using namespace save_steps;

int ResolveLinks(const char* path, Resolved& resolved) {
  Target found;
  int err = Resolve(path, found);
  resolved = {};
  if (err == 0) resolved = {found.Shown(), std::move(found.absolute), found.through_link};
  return err;
}
