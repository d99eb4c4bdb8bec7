// The extended attributes of a save's target (they carry POSIX ACLs and security labels) and its
// inode flags, read from it and given to the new file that replaces it.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <string>
#include <vector>

#include "core/fd.h"
#include "doc/save_plan.h"

namespace save_steps {

namespace {

// Never copied: the kernel drops it on any write to a file, so that new content never gets the
// powers granted to the old.
constexpr char kCapability[] = "security.capability";

// Fills `bytes` with what `get(buffer, size)` gives, after asking it how much there is (tried
// again when it grew in between).
template <typename Get>
Status ReadSized(std::string& bytes, Get get) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    ssize_t size = RetryOnEintr([&] { return get(nullptr, 0); });
    if (size < 0) return errno;
    bytes.resize(static_cast<std::size_t>(size));
    ssize_t n = RetryOnEintr([&] { return get(bytes.data(), bytes.size()); });
    if (n >= 0) {
      bytes.resize(static_cast<std::size_t>(n));
      return 0;
    }
    if (errno != ERANGE) return errno;
  }
  return ERANGE;
}

// The names of the attributes of the file open at `fd` (ENOTSUP where the file system has none).
Status ListNames(int fd, std::vector<std::string>& names) {
  std::string list;
  Status read =
      ReadSized(list, [&](char* to, std::size_t size) { return flistxattr(fd, to, size); });
  if (!read.ok()) return read;
  for (std::size_t at = 0; at < list.size();) {
    std::size_t end = std::min(list.find('\0', at), list.size());
    if (end > at) names.emplace_back(list, at, end - at);
    at = end + 1;
  }
  return 0;
}

// The inode flags of the file open at `fd` (not for its path alone).
Status ReadFlags(int fd, int& flags) {
  return Sys(OnEintr::kRetry, [&] { return ioctl(fd, FS_IOC_GETFLAGS, &flags); });
}

// Errors of a file system that keeps no inode flags.
bool NoFlags(Status status) {
  return status.err == ENOTTY || status.err == EOPNOTSUPP || status.err == EINVAL;
}

}  // namespace

SaveResult ReadKept(const Target& target, Kept& kept) {
  Fd fd;
  struct stat now;
  // Opened for writing, which the save needs anyway (reading may be refused); a running
  // program, a file another program holds a lease on, or one marked immutable or append-only,
  // only for reading.
  SaveResult opened = OpenChecked(target, O_WRONLY | O_NONBLOCK, fd, now);
  int err = opened.err;
  if (!opened.saved() && (err == ETXTBSY || err == EWOULDBLOCK || err == EPERM)) {
    kept.write_refused = opened.err == EPERM;
    opened = OpenChecked(target, O_RDONLY | O_NONBLOCK, fd, now);
  }
  if (!opened.saved()) return opened;
  // An O_PATH descriptor cannot read them: this one can.
  if (Status read = ReadFlags(fd.get(), kept.flags); read.ok()) {
    kept.has_flags = true;
  } else if (!NoFlags(read)) {
    return Failed(read);
  }
  std::vector<std::string> names;
  if (Status listed = ListNames(fd.get(), names); listed.err == ENOTSUP) {
    kept.listed = false;
  } else if (!listed.ok()) {
    return Failed(listed);
  }
  for (const std::string& name : names) {
    if (name == kCapability) continue;
    std::string value;
    Status read = ReadSized(value, [&](char* to, std::size_t size) {
      return fgetxattr(fd.get(), name.c_str(), to, size);
    });
    if (read.err == ENODATA) continue;  // removed since it was listed
    if (!read.ok()) return Failed(read);
    kept.attributes.emplace_back(name, std::move(value));
  }
  return {};
}

Status MatchFlags(int fd, const Kept& kept) {
  if (!kept.has_flags) return 0;
  int own = 0;
  if (Status read = ReadFlags(fd, own); !read.ok()) return NoFlags(read) ? EOPNOTSUPP : read;
  constexpr int kCarried = FS_FL_USER_MODIFIABLE & ~(FS_APPEND_FL | FS_IMMUTABLE_FL);
  int wanted = (own & ~kCarried) | (kept.flags & kCarried);
  if (wanted == own) return 0;
  if (RetryOnEintr([&] { return ioctl(fd, FS_IOC_SETFLAGS, &wanted); }) != 0) return errno;
  int now = 0;
  if (Status read = ReadFlags(fd, now); !read.ok()) return read;
  return (now & kCarried) == (wanted & kCarried) ? 0 : EOPNOTSUPP;
}

int FolderFlags(int folder) {
  Fd fd(RetryOnEintr([&] { return openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
  int flags = 0;
  if (!fd.valid() || !ReadFlags(fd.get(), flags).ok()) return 0;
  return flags;
}

Status MatchAttributes(int fd, const Kept& kept) {
  const auto& attributes = kept.attributes;
  // What the new file got from its folder (a default ACL) goes, unless the target has it too.
  std::vector<std::string> names;
  Status listed = ListNames(fd, names);
  // A file system that keeps none has none to remove; where only the target said so, what it has
  // is not known.
  if (listed.ok() && !kept.listed) return ENOTSUP;
  if (!listed.ok() && listed.err != ENOTSUP) return listed;
  for (const std::string& name : names) {
    auto same = [&](const auto& attribute) { return attribute.first == name; };
    if (std::any_of(attributes.begin(), attributes.end(), same)) continue;
    Status removed = Sys(OnEintr::kRetry, [&] { return fremovexattr(fd, name.c_str()); });
    if (!removed.ok() && removed.err != ENODATA) return removed;
  }
  for (const auto& attribute : attributes) {
    const std::string& name = attribute.first;
    const std::string& value = attribute.second;
    Status set = Sys(OnEintr::kRetry,
                     [&] { return fsetxattr(fd, name.c_str(), value.data(), value.size(), 0); });
    if (!set.ok()) return set;
  }
  return 0;
}

}  // namespace save_steps
