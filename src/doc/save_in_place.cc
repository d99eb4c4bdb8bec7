// Writing a regular file in place, its old content kept in a backup until the new content is on
// disk, and the folder that takes backups where the target's own folder cannot.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "core/fd.h"
#include "core/path.h"
#include "core/state_folder.h"
#include "doc/save.h"
#include "doc/save_steps.h"

namespace save_steps {

namespace {

// A backup being made: what its steps share.
struct Backing {
  const Folder& folder;
  bool record;  // in the state folder, where its companion records the target's path
  const Target& target;
  int source;
  off_t size;
  NewFile& backup;
  char* spare;           // the copy's buffer when it can have none of its own
  EntryName entry = {};  // the backup's pattern, then its companion's names

  std::string Companion(const std::string& name) {
    return std::string(entry, CompanionName(name, entry));
  }
  // The pattern until it is named: the seam sees which backup it is.
  std::string Where(FsStep step) {
    if (step == FsStep::kRecordPath) return folder.Path(Companion(backup.pattern));
    return step == FsStep::kSyncFolder ? folder.Openable() : folder.Path(backup.Entry());
  }
};

// The steps of a backup, in order: the first that fails stops it.
constexpr StepRow<Backing> kBackupSteps[] = {
    {FsStep::kRecordPath,
     [](Backing& b, OnEintr) -> Status {
       if (b.target.Absolute().empty()) return ENOENT;
       Status written =
           WithUniqueName(b.backup.pattern, b.backup.chosen, [&](const std::string& name) {
             return WriteRecord(b.folder, b.Companion(name), b.target.Absolute() + "\n");
           });
       if (!written.ok()) return written;
       b.backup.companion = b.Companion(b.backup.chosen);
       return SyncFolder(b.folder);
     },
     OnEintr::kRetry, Runs::kWhileAllWorked, false, [](const Backing& b) { return b.record; }},
    {FsStep::kCreateBackup,
     [](Backing& b, OnEintr rule) {
       if (Status created = CreateIn(b.folder, b.backup); !created.ok()) return created;
       return Sys(rule, [&] { return fchmod(b.backup.fd.get(), 0600); });
     }},
    {FsStep::kCopyBackup,
     [](Backing& b, OnEintr) { return CopyBytes(b.source, b.backup.fd.get(), b.size, b.spare); }},
    {FsStep::kSyncBackup, [](Backing& b, OnEintr) { return Sync(b.backup.fd.get()); }},
    {FsStep::kNameBackup, [](Backing& b, OnEintr) { return Name(b.folder, b.backup); }},
    {FsStep::kSyncFolder, [](Backing& b, OnEintr) { return SyncFolder(b.folder); }},
};

// Copies `size` bytes of the open target to a new backup in `folder` and flushes it and its
// name to disk. In the state folder (`record`) its companion, holding the target's absolute
// path, is written and flushed first. On failure no backup is left. The copy goes through
// `spare` when it can have no buffer of its own.
Status BackupIn(const Folder& folder, bool record, const Target& target, int source, off_t size,
                const FileSystem& fs, NewFile& backup, char* spare) {
  Backing b{folder, record, target, source, size, backup, spare};
  // The companion's name must fit as well.
  backup.pattern.assign(b.entry, BackupPattern(target.name, record, b.entry));
  Status made = RunSteps(fs, kBackupSteps, b);
  // A backup that cannot be removed is among the leftovers that a later load names.
  if (!made.ok()) (void)Discard(folder, backup, FsStep::kRemoveBackup, fs);
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
    if (Status made = MakeFolders(path); !made.ok()) return made;
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
Status Restore(int target, const struct stat& was, int backup, char* spare, OnEintr rule) {
  if (Status copied = CopyBytes(backup, target, was.st_size, spare); !copied.ok()) return copied;
  if (Status cut = Sys(rule, [&] { return ftruncate(target, was.st_size); }); !cut.ok()) {
    return cut;
  }
  if (SetIdToGiveBack(was)) {
    if (Status given = GiveModeBack(target, was); !given.ok()) return given;
  }
  return Sync(target);
}

// An in-place write under way, once the backup is made: what its steps share.
struct InPlace {
  Target& target;
  Fd& fd;
  const Pieces& bytes;
  const struct stat& was;
  int backup;
  const std::string& shown;  // the target's path
  bool restored = false;  // the old content is whole in the target again

  off_t size() const { return static_cast<off_t>(bytes.size()); }
  const std::string& Where(FsStep) const { return shown; }
};

// The steps of an in-place write once the backup is made, in order; the first that fails stops
// the write, and the old content is put back. The target is a regular file: its write finishes
// before a signal is acted on.
constexpr StepRow<InPlace> kInPlaceSteps[] = {
    {FsStep::kAllocate, [](InPlace& r, OnEintr) { return Reserve(r.fd.get(), r.size()); }},
    {FsStep::kWrite,
     [](InPlace& r, OnEintr rule) { return WritePieces(r.fd.get(), r.bytes, 0, rule); }},
    {FsStep::kTruncate,
     [](InPlace& r, OnEintr rule) {
       return Sys(rule, [&] { return ftruncate(r.fd.get(), r.size()); });
     }},
    {FsStep::kMatchMode, [](InPlace& r, OnEintr) { return GiveModeBack(r.fd.get(), r.was); },
     OnEintr::kRetry, Runs::kWhileAllWorked, false,
     [](const InPlace& r) { return SetIdToGiveBack(r.was); }},
    {FsStep::kSync,
     [](InPlace& r, OnEintr) {
       Status synced = Sync(r.fd.get());
       if (synced.ok()) (void)fstat(r.fd.get(), &r.target.info);  // the stamp only: `was` stands
       return synced;
     }},
    {FsStep::kRestore,
     [](InPlace& r, OnEintr rule) {
       Status restored = Restore(r.fd.get(), r.was, r.backup, r.bytes.spare(), rule);
       r.restored = restored.ok();
       return restored;
     },
     OnEintr::kRetry, Runs::kOnceOneFailed},
    // Once the new content is flushed, a close that fails takes nothing from it: the save stands.
    {FsStep::kClose, [](InPlace& r, OnEintr) { return Close(r.fd); }, OnEintr::kOnce, Runs::kAlways,
     true},
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

  InPlace run{target, fd, bytes, now, backup.fd.get(), shown};
  written = RunSteps(fs, kInPlaceSteps, run);
  bool restored = run.restored;
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

std::vector<FsStep> InPlaceSteps() {
  std::vector<FsStep> steps = {FsStep::kOpenTarget, FsStep::kMakeStateFolder};
  for (const auto& row : kBackupSteps) steps.push_back(row.step);
  for (const auto& row : kInPlaceSteps) steps.push_back(row.step);
  steps.push_back(FsStep::kRemoveBackup);
  return steps;
}

}  // namespace save_steps

std::string BackupFolder() {
  std::string folder = StateFolder();
  return folder.empty() ? folder : folder + "/backup";
}
