// Writing a regular file in place, its old content kept in a backup until the new content is on
// disk, and the folder that takes backups where the target's own folder cannot.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "core/fd.h"
#include "core/path.h"
#include "core/state_folder.h"
#include "doc/save.h"
#include "doc/save_steps.h"

namespace save_steps {

namespace {

// Copies `size` bytes of the open target to a new backup in `folder` and flushes it and its
// name to disk. In the state folder (`record`) its companion, holding the target's absolute
// path, is written and flushed first. On failure no backup is left. The copy goes through
// `spare` when it can have no buffer of its own.
Status BackupIn(const Folder& folder, bool record, const Target& target, int source, off_t size,
                const FileSystem& fs, NewFile& backup, char* spare) {
  // The companion's name must fit as well.
  EntryName entry;
  backup.pattern.assign(entry, BackupPattern(target.name, record, entry));
  auto companion = [&entry](const std::string& name) {
    return std::string(entry, CompanionName(name, entry));
  };
  Status made;
  if (record) {
    made = Step(fs, FsStep::kRecordPath, folder.Path(companion(backup.pattern)), [&]() -> Status {
      if (target.Absolute().empty()) return ENOENT;
      Status written = WithUniqueName(backup.pattern, backup.chosen, [&](const std::string& name) {
        return WriteRecord(folder, companion(name), target.Absolute() + "\n");
      });
      if (!written.ok()) return written;
      backup.companion = companion(backup.chosen);
      return SyncFolder(folder);
    });
  }
  if (made.ok()) {
    made = Step(fs, FsStep::kCreateBackup, folder.Path(backup.Entry()), [&] {
      if (Status created = CreateIn(folder, backup); !created.ok()) return created;
      return Errno(RetryOnEintr([&] { return fchmod(backup.fd.get(), 0600); }));
    });
  }
  if (!made.ok()) {
    // A backup that cannot be removed is among the leftovers that a later load names.
    (void)Discard(folder, backup, FsStep::kRemoveBackup, fs);
    return made;
  }
  // The pattern until it is named: the seam sees which backup it is.
  auto path = [&] { return folder.Path(backup.Entry()); };
  made = Step(fs, FsStep::kCopyBackup, path(),
              [&] { return CopyBytes(source, backup.fd.get(), size, spare); });
  if (made.ok()) {
    made = Step(fs, FsStep::kSyncBackup, path(), [&] { return Sync(backup.fd.get()); });
  }
  if (made.ok()) made = Step(fs, FsStep::kNameBackup, path(), [&] { return Name(folder, backup); });
  if (made.ok()) {
    made = Step(fs, FsStep::kSyncFolder, folder.Openable(), [&] { return SyncFolder(folder); });
  }
  if (!made.ok()) (void)Discard(folder, backup, FsStep::kRemoveBackup, fs);  // as above
  return made;
}

// Keeps the old content of the open target in a backup: beside the target, or where its folder
// cannot take it, in the state folder (opened into `state`). `place` receives the folder used.
// Fails as the last place tried fails.
Status MakeBackup(const Target& target, int source, off_t size, const FileSystem& fs,
                  NewFile& backup, Folder& state, const Folder*& place, char* spare) {
  place = &target.folder;
  // A backup cannot be removed from a folder marked append-only.
  Status beside = (FolderFlags(target.folder.fd.get()) & FS_APPEND_FL) != 0
                      ? Status(EPERM)
                      : BackupIn(target.folder, false, target, source, size, fs, backup, spare);
  if (beside.ok()) return beside;
  std::string path = BackupFolder();
  if (path.empty()) return beside;
  Status opened = Step(fs, FsStep::kMakeStateFolder, path, [&]() -> Status {
    if (int err = MakeFolders(path); err != 0) return err;
    state.fd =
        Fd(RetryOnEintr([&] { return open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC); }));
    return state.fd.valid() ? 0 : errno;
  });
  if (!opened.ok()) return opened;
  state.shown = path + "/";
  place = &state;
  backup = NewFile{};
  return BackupIn(state, true, target, source, size, fs, backup, spare);
}

// A write by a user who is not root clears the set-id bits of the file: true when the user
// owns the target `was` and may give them back (another owner's file follows the system's rule).
bool SetIdToGiveBack(const struct stat& was) {
  return (was.st_mode & (S_ISUID | S_ISGID)) != 0 && was.st_uid == geteuid() && geteuid() != 0;
}

Status GiveModeBack(int target, const struct stat& was) {
  return Errno(RetryOnEintr([&] { return fchmod(target, was.st_mode & 07777); }));
}

// Puts the old content back into the target `was` after a failed write: the bytes, the size,
// the set-id bits, the flush.
Status Restore(int target, const struct stat& was, int backup, char* spare) {
  if (Status copied = CopyBytes(backup, target, was.st_size, spare); !copied.ok()) return copied;
  if (RetryOnEintr([&] { return ftruncate(target, was.st_size); }) != 0) return errno;
  if (SetIdToGiveBack(was)) {
    if (Status given = GiveModeBack(target, was); !given.ok()) return given;
  }
  return Sync(target);
}

// An in-place write under way: what its steps share.
struct InPlace {
  int fd;
  const Pieces& bytes;
  const struct stat& was;

  off_t size() const { return static_cast<off_t>(bytes.size()); }
};

struct InPlaceStep {
  FsStep step;
  Status (*run)(const InPlace&);
  bool set_id_only = false;  // only where the set-id bits are to be given back
};

// The steps of an in-place write once the backup is made, in order; the first that fails stops
// the write, and the old content is put back.
constexpr InPlaceStep kInPlaceSteps[] = {
    {FsStep::kAllocate, [](const InPlace& r) { return Reserve(r.fd, r.size()); }},
    {FsStep::kWrite, [](const InPlace& r) { return WritePieces(r.fd, r.bytes, 0); }},
    {FsStep::kTruncate,
     [](const InPlace& r) {
       return Errno(RetryOnEintr([&] { return ftruncate(r.fd, r.size()); }));
     }},
    {FsStep::kMatchMode, [](const InPlace& r) { return GiveModeBack(r.fd, r.was); }, true},
    {FsStep::kSync, [](const InPlace& r) { return Sync(r.fd); }},
};

}  // namespace

SaveResult WriteKeepingOld(Target& target, const Pieces& bytes, const FileSystem& fs) {
  std::string shown = target.Shown();
  Fd fd;
  struct stat now;
  // Non-blocking: something put in its place cannot hold the open.
  SaveResult opened = Step(fs, FsStep::kOpenTarget, shown,
                           [&] { return OpenChecked(target, O_RDWR | O_NONBLOCK, fd, now); });
  if (!opened.saved()) return opened;

  off_t old_size = now.st_size;
  NewFile backup;
  Folder state;
  const Folder* place = nullptr;
  Status written =
      MakeBackup(target, fd.get(), old_size, fs, backup, state, place, bytes.spare());
  if (!written.ok()) return Failed(written);

  InPlace run{fd.get(), bytes, now};
  for (const InPlaceStep& row : kInPlaceSteps) {
    if (!written.ok()) break;
    if (row.set_id_only && !SetIdToGiveBack(now)) continue;
    written = Step(fs, row.step, shown, [&] { return row.run(run); });
  }
  if (written.ok()) (void)fstat(fd.get(), &target.info);  // the stamp only: `now` stands else
  bool restored = !written.ok() && Step(fs, FsStep::kRestore, shown, [&] {
                                     return Restore(fd.get(), now, backup.fd.get(), bytes.spare());
                                   }).ok();
  // Once the new content is flushed, a close that fails takes nothing from it: the save stands.
  (void)Step(fs, FsStep::kClose, shown, [&] { return Close(fd); });
  SaveResult result = Failed(written);
  if (!written.ok() && !restored) {
    // Neither the new content nor the old is known to be whole in the target.
    result.kept = place->Path(backup.name);
  } else if (Status removed = Discard(*place, backup, FsStep::kRemoveBackup, fs); !removed.ok()) {
    result.kept = place->Path(backup.name);
    if (written.ok()) result.err = removed.err;
  }
  return result;
}

}  // namespace save_steps

std::string BackupFolder() {
  std::string folder = StateFolder();
  return folder.empty() ? folder : folder + "/backup";
}
