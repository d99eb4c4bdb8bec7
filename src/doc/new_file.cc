// New files made in a folder: unnamed until complete where the system allows.
#include "doc/new_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "doc/save_steps.h"

namespace save_steps {

namespace {

// Unnamed files can be named only through /proc.
bool CanNameLater() {
  return access("/proc/self/fd", X_OK) == 0;
}

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
  if (!CanNameLater()) return EOPNOTSUPP;
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
