// What a save finds out before it writes (the target's extended attributes, which carry ACLs and
// security labels, and its inode flags) and the one table that decides how it writes.
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

using T = const Target&;
using P = const Probe&;

// Reasons a folder gives for refusing a new file, where the target can be written in place.
bool Refuses(Status status) {
  return status.err == EACCES || status.err == EPERM || status.err == EROFS;
}

// Errors of a new file that cannot be given what the target has.
bool CannotCarry(Status status) {
  return status.err == EPERM || status.err == EOPNOTSUPP || status.err == EACCES;
}

bool Marked(P p, int flag) {
  return p.kept.has_flags && (p.kept.flags & flag) != 0;
}

constexpr int kFolderMarks = FS_APPEND_FL | FS_IMMUTABLE_FL;

using enum Way;
using enum SaveOutcome;

struct Row {
  bool (*matches)(T, P);
  Way way;
  Status Probe::*failed = nullptr;  // kRefused: the step whose error it gives (else EPERM)
  SaveOutcome refusal = kFailed;    // kRefused: what the save says
  bool backup_in_state = false;     // kInPlace: the folder cannot take the backup
};

// In order: the first row that matches decides.
// clang-format off
constexpr Row kWays[] = {
    // No file there: a new one is named, but in an immutable folder, or in an append-only one
    // that cannot have it whole (no unnamed files there).
    {[](T t, P p) { return !t.exists && (p.folder_flags & FS_IMMUTABLE_FL) != 0; }, kRefused,
     nullptr, kFolderImmutable},
    {[](T t, P p) { return !t.exists && p.create.ok(); }, kByRename},
    {[](T t, P p) { return !t.exists && (p.folder_flags & FS_APPEND_FL) != 0 &&
                           p.create.err == EOPNOTSUPP; }, kRefused, nullptr, kFolderAppendOnly},
    {[](T t, P) { return !t.exists; }, kRefused, &Probe::create},
    {[](T t, P) { return !S_ISREG(t.info.st_mode); }, kStraight},  // a device or a FIFO
    {[](T, P p) { return !p.read.ok(); }, kRefused, &Probe::read},
    {[](T, P p) { return Marked(p, FS_IMMUTABLE_FL); }, kRefused, nullptr, kImmutable},
    {[](T, P p) { return Marked(p, FS_APPEND_FL); }, kRefused, nullptr, kAppendOnly},
    {[](T, P p) { return p.kept.write_refused; }, kRefused},
    // Other names would keep the old content; a marked folder, or one that refuses a new file
    // (EACCES, EPERM, EROFS), cannot have it renamed in.
    {[](T t, P) { return t.info.st_nlink > 1; }, kInPlace},
    {[](T, P p) { return (p.folder_flags & kFolderMarks) != 0; }, kInPlace, nullptr, kFailed, true},
    {[](T, P p) { return Refuses(p.create); }, kInPlace},
    {[](T, P p) { return !p.create.ok(); }, kRefused, &Probe::create},  // no space, no inodes...
    // The new file cannot be given what the target has.
    {[](T, P p) { return !p.flags.ok(); }, kInPlace},
    {[](T, P p) { return !p.owner.ok(); }, kInPlace},
    {[](T, P p) { return CannotCarry(p.attributes); }, kInPlace},
    {[](T, P p) { return !p.attributes.ok(); }, kRefused, &Probe::attributes},
    {[](T, P) { return true; }, kByRename},
};
// clang-format on

const Row& FirstRow(T target, P probe) {
  for (const Row& row : kWays) {
    if (row.matches(target, probe)) return row;
  }
  return kWays[std::size(kWays) - 1];  // never: the last row matches all
}

}  // namespace

SaveResult ReadKept(const Target& target, Kept& kept) {
  Fd fd;
  struct stat now;
  // Opened for writing, which the save needs anyway (reading may be refused); a running program,
  // a leased file, or one marked immutable or append-only, only for reading.
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
  // Where only the target's file system keeps none, what it has is not known.
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

Chosen ChooseWay(const Target& target, const Probe& probe) {
  const Row& row = FirstRow(target, probe);
  Chosen chosen{row.way, row.refusal};
  if (row.way == kRefused) chosen.err = row.failed != nullptr ? (probe.*row.failed).err : EPERM;
  // A backup cannot be removed from a folder marked append-only, nor made in an immutable one.
  if (row.backup_in_state) chosen.no_backup_beside = EPERM;
  return chosen;
}

bool NeedsNewFile(const Target& target, const Probe& probe) {
  return !probe.Tried() && FirstRow(target, probe).way == Way::kByRename;
}

}  // namespace save_steps
