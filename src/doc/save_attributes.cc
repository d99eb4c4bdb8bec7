// The extended attributes of a save's target (they carry POSIX ACLs and security labels), read
// from it and given to the new file that replaces it.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <string>
#include <vector>

#include "core/fd.h"
#include "doc/save_steps.h"

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

// The names of the attributes of the file open at `fd` (none where the file system has none).
Status ListNames(int fd, std::vector<std::string>& names) {
  std::string list;
  Status read =
      ReadSized(list, [&](char* to, std::size_t size) { return flistxattr(fd, to, size); });
  if (read.err == ENOTSUP) return 0;
  if (!read.ok()) return read;
  for (std::size_t at = 0; at < list.size();) {
    std::size_t end = std::min(list.find('\0', at), list.size());
    if (end > at) names.emplace_back(list, at, end - at);
    at = end + 1;
  }
  return 0;
}

}  // namespace

SaveResult ReadAttributes(const Target& target, Attributes& attributes) {
  Fd fd;
  struct stat now;
  // Opened for writing, which the save needs anyway (reading may be refused); a running
  // program, or a file another program holds a lease on, only for reading.
  SaveResult opened = OpenChecked(target, O_WRONLY | O_NONBLOCK, fd, now);
  if (!opened.saved() && (opened.err == ETXTBSY || opened.err == EWOULDBLOCK)) {
    opened = OpenChecked(target, O_RDONLY | O_NONBLOCK, fd, now);
  }
  if (!opened.saved()) return opened;
  std::vector<std::string> names;
  if (Status listed = ListNames(fd.get(), names); !listed.ok()) return Failed(listed);
  for (const std::string& name : names) {
    if (name == kCapability) continue;
    std::string value;
    Status read = ReadSized(value, [&](char* to, std::size_t size) {
      return fgetxattr(fd.get(), name.c_str(), to, size);
    });
    if (read.err == ENODATA) continue;  // removed since it was listed
    if (!read.ok()) return Failed(read);
    attributes.emplace_back(name, std::move(value));
  }
  return {};
}

Status MatchAttributes(int fd, const Attributes& attributes) {
  // What the new file got from its folder (a default ACL) goes, unless the target has it too.
  std::vector<std::string> names;
  if (Status listed = ListNames(fd, names); !listed.ok()) return listed;
  for (const std::string& name : names) {
    auto same = [&](const auto& attribute) { return attribute.first == name; };
    if (std::any_of(attributes.begin(), attributes.end(), same)) continue;
    Status removed = Errno(RetryOnEintr([&] { return fremovexattr(fd, name.c_str()); }));
    if (!removed.ok() && removed.err != ENODATA) return removed;
  }
  for (const auto& attribute : attributes) {
    const std::string& name = attribute.first;
    const std::string& value = attribute.second;
    Status set = Errno(
        RetryOnEintr([&] { return fsetxattr(fd, name.c_str(), value.data(), value.size(), 0); }));
    if (!set.ok()) return set;
  }
  return 0;
}

}  // namespace save_steps
