// Writing a regular file in place behind a backup (see the picture in doc/save.cc): beside the
// target, or where its folder cannot take it, in the state folder with a companion.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "core/fd.h"
#include "core/path.h"
#include "core/state_folder.h"
#include "doc/save.h"
#include "doc/save_plan.h"

namespace save_steps {

namespace {

// The backup is to go to `folder` (in the state folder, the companion's name must fit as well).
void BackupIn(Run& r, const Folder& folder) {
  r.backup_in = &folder;
  EntryName entry;
  r.backup.pattern.assign(entry, BackupPattern(r.target.name, &folder == &r.state, entry));
  r.where = folder.Path(r.backup.pattern);
}

// Opens the target (non-blocking: nothing put in its place can hold the open); the backup is to
// go beside it, unless its folder cannot take one (that reason then stands in `fell`).
Status OpenForInPlace(Run& r, OnEintr) {
  r.fell = r.chosen.no_backup_beside;
  BackupIn(r, r.target.folder);
  return OpenTarget(r, O_RDWR | O_NONBLOCK);
}

// Where the backup cannot be beside the target: the state folder's backup folder, made and
// opened (the failure beside stands when there is none).
Status OpenStateFolder(Run& r, OnEintr) {
  std::string path = BackupFolder();
  if (path.empty()) return r.fell;
  if (Status made = MakeFolders(path); !made.ok()) return made;
  r.state.fd =
      Fd(RetryOnEintr([&] { return open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC); }));
  if (!r.state.fd.valid()) return errno;
  r.state.shown = path + "/";
  r.backup = NewFile{};
  BackupIn(r, r.state);
  return 0;
}

// In the state folder, the companion that records the target's absolute path, written and
// flushed before the backup is named.
Status RecordPath(Run& r, OnEintr) {
  if (r.target.Absolute().empty()) return ENOENT;
  NewFile& backup = r.backup;
  Status written = WithUniqueName(backup.pattern, backup.chosen, [&](const std::string& name) {
    return WriteRecord(*r.backup_in, r.Companion(name), r.target.Absolute() + "\n");
  });
  if (!written.ok()) return written;
  backup.companion = r.Companion(backup.chosen);
  r.where = r.backup_in->Path(backup.chosen);
  return SyncFolder(*r.backup_in);
}

Status CreateBackup(Run& r, OnEintr rule) {
  if (Status created = CreateIn(*r.backup_in, r.backup); !created.ok()) return created;
  return Sys(rule, [&] { return fchmod(r.backup.fd.get(), 0600); });
}

Status NameBackup(Run& r, OnEintr) {
  Status named = Name(*r.backup_in, r.backup);
  if (named.ok()) r.where = r.backup_in->Path(r.backup.name);
  return named;
}

Status RemoveBackup(Run& r, OnEintr) {
  return Remove(*r.backup_in, r.backup);
}

// A write by a user who is not root clears the set-id bits of the file: true when the user
// owns the target `was` and may give them back (another owner's file follows the system's rule).
bool SetIdToGiveBack(const struct stat& was) {
  return (was.st_mode & (S_ISUID | S_ISGID)) != 0 && was.st_uid == geteuid() && geteuid() != 0;
}

Status GiveModeBack(Run& r, OnEintr rule) {
  return Sys(rule, [&] { return fchmod(r.fd.get(), r.was.st_mode & 07777); });
}

// Puts the old content back into the target after a failed write.
Status Restore(Run& r, OnEintr rule) {
  int target = r.fd.get();
  Status done = CopyBytes(r.backup.fd.get(), target, r.was.st_size, r.bytes.spare());
  if (done.ok()) done = Sys(rule, [&] { return ftruncate(target, r.was.st_size); });
  if (done.ok() && SetIdToGiveBack(r.was)) done = GiveModeBack(r, rule);
  if (done.ok()) done = Sync(target);
  r.restored = done.ok();
  return done;
}

off_t NewSize(const Run& r) {
  return static_cast<off_t>(r.bytes.size());
}

bool Beside(const Run& r) {
  return r.fell.ok();
}
bool InState(const Run& r) {
  return !r.fell.ok() && !r.Stopped();
}
bool BackupLeft(const Run& r) {
  return r.backup.fd.valid() || !r.backup.name.empty() || !r.backup.companion.empty();
}

Status CopyBackup(Run& r, OnEintr) {
  return CopyBytes(r.fd.get(), r.backup.fd.get(), r.was.st_size, r.bytes.spare());
}
Status SyncBackup(Run& r, OnEintr) {
  return Sync(r.backup.fd.get());
}
Status SyncBackupFolder(Run& r, OnEintr) {
  Status synced = SyncFolder(*r.backup_in);
  r.backed_up = synced.ok();
  return synced;
}

// clang-format off
// The steps of a backup, where `place` (Beside or InState) says; a failure does what `fails` says.
#define BACKUP_STEPS(place, fails)                                                      \
  {FsStep::kCreateBackup, CreateBackup, kOnBackup, kRetry, kWhileAllWorked, fails, place}, \
  {FsStep::kCopyBackup, CopyBackup, kOnBackup, kRetry, kWhileAllWorked, fails, place},     \
  {FsStep::kSyncBackup, SyncBackup, kOnBackup, kRetry, kWhileAllWorked, fails, place},     \
  {FsStep::kNameBackup, NameBackup, kOnBackup, kRetry, kWhileAllWorked, fails, place},     \
  {FsStep::kSyncFolder, SyncBackupFolder, kOnBackupFolder, kRetry, kWhileAllWorked, fails, place}
// clang-format on

// The target opened; the backup beside it, or where that fails, in the state folder; the write,
// whose first failure puts the old content back. A regular file's write finishes before a
// signal is acted on.
constexpr PlanStep kInPlaceSteps[] = {
    {FsStep::kRemoveTemp, RemoveNew, kOnNew, kRetry, kAlways, kIgnore, NewMade},
    {FsStep::kOpenTarget, OpenForInPlace},
    BACKUP_STEPS(Beside, kFallBack),
    // A backup that failed beside the target goes (one that cannot is named by a later load).
    {FsStep::kRemoveBackup, RemoveBackup, kOnBackup, kRetry, kWhileAllWorked, kIgnore,
     [](const Run& r) { return InState(r) && BackupLeft(r); }},
    {FsStep::kMakeStateFolder, OpenStateFolder, kOnStateFolder, kRetry, kWhileAllWorked, kStop,
     InState},
    {FsStep::kRecordPath, RecordPath, kOnCompanion, kRetry, kWhileAllWorked, kStop, InState},
    BACKUP_STEPS(InState, kStop),
    {FsStep::kAllocate, [](Run& r, OnEintr) { return ReserveSpace(r.fd.get(), NewSize(r)); }},
    {FsStep::kWrite,
     [](Run& r, OnEintr rule) { return WritePieces(r.fd.get(), r.bytes, 0, rule); }},
    {FsStep::kTruncate,
     [](Run& r, OnEintr rule) {
       return Sys(rule, [&] { return ftruncate(r.fd.get(), NewSize(r)); });
     }},
    {FsStep::kMatchMode, GiveModeBack, kOnTarget, kRetry, kWhileAllWorked, kStop,
     [](const Run& r) { return SetIdToGiveBack(r.was); }},
    {FsStep::kSync,
     [](Run& r, OnEintr) {
       Status synced = Sync(r.fd.get());
       if (synced.ok()) (void)fstat(r.fd.get(), &r.target.info);  // the stamp only: `was` stands
       return synced;
     }},
    {FsStep::kRestore, Restore, kOnTarget, kRetry, kOnceOneFailed, kStop,
     [](const Run& r) { return r.backed_up; }},
    // Once the new content is flushed, a close that fails takes nothing from it: the save stands.
    {FsStep::kClose, [](Run& r, OnEintr) { return Close(r.fd); }, kOnTarget, kOnce, kAlways,
     kIgnore, [](const Run& r) { return r.fd.valid(); }},
    // The backup goes once the new content or the old is whole in the target; else it stays.
    {FsStep::kRemoveBackup, RemoveBackup, kOnBackup, kRetry, kAlways, kSay,
     [](const Run& r) { return r.backed_up && (!r.Stopped() || r.restored); }},
    {FsStep::kRemoveBackup, RemoveBackup, kOnBackup, kRetry, kOnceOneFailed, kIgnore,
     [](const Run& r) { return !r.backed_up && BackupLeft(r); }},
};

#undef BACKUP_STEPS

}  // namespace

const Plan kInPlacePlan = kInPlaceSteps;

}  // namespace save_steps

std::string BackupFolder() {
  std::string folder = StateFolder();
  return folder.empty() ? folder : folder + "/backup";
}
