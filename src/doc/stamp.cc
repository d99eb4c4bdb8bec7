// Stamps, and what another program changed since one was taken.
#include "doc/stamp.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <utility>

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
  return stamp.exists && target.exists && SameIdentity(target.id, stamp.id);
}

// Holds the file a save wrote, opened again through its folder, when it is that file.
void HoldWritten(FileStamp& stamp, const Target& target) {
  stamp.id = {target.info.st_dev, target.info.st_ino, false, 0, 0};
  Fd file(RetryOnEintr([&] {
    return openat(target.folder.fd.get(), target.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  }));
  struct stat now;
  Identity id;
  if (file.valid() && Examine(file.get(), now, id).ok() && SameIdentity(id, stamp.id)) {
    stamp.id = id;
    stamp.held = std::make_shared<const Fd>(std::move(file));
  }
}

}  // namespace

void TakeStamp(FileStamp& stamp, const char* name, Target& target, Status found) {
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
  stamp.reached = target.passed.size();
  if (!stamp.exists) return;
  if (target.file.valid()) {
    stamp.id = target.id;
    // A FIFO's or a device's read end is not kept: held, it would take a save's writes.
    if (S_ISREG(target.info.st_mode)) {
      stamp.held = std::make_shared<const Fd>(std::move(target.file));
    }
  } else {
    HoldWritten(stamp, target);
  }
}

uid_t NewFolderOwner(const FileStamp& stamp, const Target& target) {
  if (!stamp.known || stamp.folder_known) return Target::kNoOwner;
  // The folders after the nearest one that was there; all of them when that one is gone.
  std::size_t from = stamp.reached;
  if (from > target.passed.size() ||
      (from > 0 && (target.passed[from - 1].dev != stamp.folder_dev ||
                    target.passed[from - 1].ino != stamp.folder_ino))) {
    from = 0;
  }
  for (std::size_t i = from; i < target.passed.size(); ++i) {
    uid_t owner = target.passed[i].owner;
    if (owner != geteuid() && owner != 0) return owner;
  }
  return Target::kNoOwner;
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
  if (!stamp.exists) {
    if (NewFolderOwner(stamp, target) != Target::kNoOwner) return DiskChange::kForeignFolder;
    return target.exists ? DiskChange::kCreated : DiskChange::kNone;
  }
  if (!target.exists) return DiskChange::kNone;
  if (!SameStampedFile(stamp, target)) return DiskChange::kReplaced;
  if (now.st_uid != then.st_uid || now.st_gid != then.st_gid) return DiskChange::kOwnerChanged;
  auto same_time = [](const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
  };
  // The change time also moves with the mode or the links, which change no text.
  bool attributes_kept = now.st_mode == then.st_mode && now.st_nlink == then.st_nlink;
  bool changed = now.st_size != then.st_size || !same_time(now.st_mtim, then.st_mtim) ||
                 (attributes_kept && !same_time(now.st_ctim, then.st_ctim));
  return changed ? DiskChange::kChanged : DiskChange::kNone;
}

bool LeadsTo(const FileStamp& stamp, const Target& target, Status found) {
  return stamp.known && found.ok() && (SamePlace(stamp, target) || SameStampedFile(stamp, target));
}
