// Stamps: what a name led to when it was last read or written, and whether another program
// changed it since.
#include <sys/stat.h>
#include <time.h>

#include <string>
#include <utility>

#include "doc/save.h"
#include "doc/save_steps.h"

using namespace save_steps;

void TakeStamp(FileStamp& stamp, const char* name, int fd) {
  stamp = FileStamp{};
  Target target;
  // A name whose folder is not there is stamped as missing where it would be.
  Status found = Resolve(name, target);
  if ((!found.ok() && !target.unreached) || target.place.empty()) return;
  stamp.known = true;
  stamp.exists = found.ok() && target.exists;
  stamp.path = std::move(target.place);
  stamp.info = target.info;
  // What was read counts over what the name shows now.
  if (fd >= 0 && fstat(fd, &stamp.info) == 0) stamp.exists = true;
}

DiskChange ChangedSince(const FileStamp& stamp, const char* name) {
  Target target;
  if (!stamp.known || !Resolve(name, target).ok()) return DiskChange::kNone;
  const struct stat& then = stamp.info;
  const struct stat& now = target.info;
  bool same_path = target.place == stamp.path;
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
