// Stamps: the place a name led to when it was last read or written and the file found there,
// and what another program changed since.
#include <sys/stat.h>
#include <time.h>

#include <string>
#include <utility>

#include "doc/save.h"
#include "doc/save_steps.h"

using namespace save_steps;

namespace {

// The same folder (or, where there was none, the same path) and the same last part.
bool SamePlace(const FileStamp& stamp, const Target& target) {
  return stamp.folder_known
             ? stamp.folder_dev == target.folder_info.st_dev &&
                   stamp.folder_ino == target.folder_info.st_ino && stamp.last == target.name
             : target.place == stamp.path;
}

// A file was stamped and the target is that file.
bool SameStampedFile(const FileStamp& stamp, const Target& target) {
  return stamp.exists && target.exists && target.info.st_dev == stamp.info.st_dev &&
         target.info.st_ino == stamp.info.st_ino;
}

}  // namespace

void TakeStamp(FileStamp& stamp, const char* name, const Target& target, Status found) {
  stamp = FileStamp{};
  // A name whose folder is not there is stamped as missing where it would be.
  if ((!found.ok() && !target.unreached) || target.place.empty()) return;
  stamp.known = true;
  stamp.name = name;
  stamp.exists = found.ok() && target.exists;
  stamp.path = target.place;
  stamp.folder_known = found.ok();
  stamp.folder_dev = target.folder_info.st_dev;
  stamp.folder_ino = target.folder_info.st_ino;
  stamp.last = target.name;
  stamp.info = target.info;
}

void TakeStamp(FileStamp& stamp, const char* name, int fd) {
  Target target;
  Status found = Resolve(name, target);
  TakeStamp(stamp, name, target, found);
  // What was read counts over what the name shows now.
  if (stamp.known && fd >= 0 && fstat(fd, &stamp.info) == 0) stamp.exists = true;
}

DiskChange ChangedSince(const FileStamp& stamp, const char* name, const Target& target,
                        Status found) {
  if (!stamp.known || !found.ok()) return DiskChange::kNone;
  const struct stat& then = stamp.info;
  const struct stat& now = target.info;
  if (!LeadsTo(stamp, target, found)) {
    // Another spelling that leads elsewhere is a save to a new place.
    return stamp.name == name ? DiskChange::kElsewhere : DiskChange::kNone;
  }
  if (!stamp.exists) return target.exists ? DiskChange::kCreated : DiskChange::kNone;
  if (!target.exists) return DiskChange::kNone;
  if (!SameStampedFile(stamp, target)) return DiskChange::kElsewhere;
  auto same_time = [](const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
  };
  // The change time also moves with the mode, the owner or the links, which change no text.
  bool attributes_kept = now.st_mode == then.st_mode && now.st_uid == then.st_uid &&
                         now.st_gid == then.st_gid && now.st_nlink == then.st_nlink;
  bool changed = now.st_size != then.st_size || !same_time(now.st_mtim, then.st_mtim) ||
                 (attributes_kept && !same_time(now.st_ctim, then.st_ctim));
  return changed ? DiskChange::kChanged : DiskChange::kNone;
}

bool LeadsTo(const FileStamp& stamp, const Target& target, Status found) {
  return stamp.known && found.ok() && (SamePlace(stamp, target) || SameStampedFile(stamp, target));
}
