// The file write in its three stages (docs/HACKING.md tells them). At every moment the target
// holds its old or its new content: by rename, the new file is complete and flushed before it
// takes the target's place; in place (save_in_place.cc) a flushed backup keeps the old content:
//
//   target  old ---------------------- old|new... ---- new ---------- new
//   backup  (none) -- copy, flush, name -- old ------------ old -- removed
#include "doc/save.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <exception>
#include <new>
#include <string>
#include <utility>

#include "doc/save_plan.h"

namespace save_steps {

Status OpenTarget(Run& r, int flags) {
  SaveResult opened = OpenChecked(r.target, flags, r.fd, r.was);
  r.changed = opened.outcome == SaveOutcome::kTargetChanged;
  return opened.err;
}

Status RemoveNew(Run& r, OnEintr) {
  return Remove(r.target.folder, r.New());
}

bool NewMade(const Run& r) {
  return r.probe.temp.fd.valid() || !r.probe.temp.name.empty();
}

namespace {

// What the seam is told a step acts on: made before the steps that may not ask for memory, but
// for those that come before the write.
const std::string& Where(Run& r, Acts acts) {
  if (acts == kOnBackupFolder) return r.scratch = r.backup_in->Openable();
  if (acts == kOnCompanion) return r.scratch = r.backup_in->Path(r.Companion(r.backup.pattern));
  if (acts == kOnStateFolder) return r.scratch = BackupFolder();
  constexpr std::string Run::*kPaths[] = {&Run::shown, &Run::folder, &Run::temp, &Run::where};
  return r.*kPaths[static_cast<int>(acts)];
}

// The target's attributes and inode flags (a file's), and its folder's flags.
Status ReadWhatItHas(Run& r, OnEintr) {
  Status read;
  if (r.target.exists) {
    SaveResult kept = ReadKept(r.target, r.probe.kept);
    r.changed = kept.outcome == SaveOutcome::kTargetChanged;
    read = kept.err;
  }
  r.probe.folder_flags = FolderFlags(r.dir());
  return read;
}

// The new file, empty. In an append-only folder a new name is made only unnamed, then linked:
// what has a name there cannot be renamed or removed.
Status CreateNew(Run& r, OnEintr) {
  bool append_only = !r.target.exists && (r.probe.folder_flags & FS_APPEND_FL) != 0;
  if (append_only) r.New().chosen = r.target.name;
  Status made = CreateIn(r.target.folder, r.New(), r.target.exists ? 0600 : 0666, append_only);
  r.temp = r.target.folder.Path(r.New().Entry());
  return made;
}

// Gives the new file the owner and group of the target.
Status GiveOwner(Run& r, OnEintr rule) {
  struct stat st;
  int fd = r.New().fd.get();
  if (fstat(fd, &st) != 0) return errno;
  const struct stat& old = r.target.info;
  if (st.st_uid == old.st_uid && st.st_gid == old.st_gid) return 0;
  return Sys(rule, [&] { return fchown(fd, old.st_uid, old.st_gid); });
}

bool Regular(const Run& r) {
  return !r.target.exists || S_ISREG(r.target.info.st_mode);
}
bool Trying(const Run& r) {
  return r.target.exists && r.probe.temp.fd.valid() && !r.probe.Tried();
}

// What the target has, and, where that does not decide the way, the new file and what it can
// be given, while each worked. Each step's outcome goes to the probe.
constexpr PlanStep kProbeSteps[] = {
    {FsStep::kReadAttributes, ReadWhatItHas, kOnTarget, kRetry, kWhileAllWorked, kProbe, Regular,
     &Probe::read},
    {FsStep::kCreateTemp, CreateNew, kOnNew, kRetry, kWhileAllWorked, kProbe,
     [](const Run& r) { return NeedsNewFile(r.target, r.probe); }, &Probe::create},
    {FsStep::kMatchFlags,
     [](Run& r, OnEintr) { return MatchFlags(r.New().fd.get(), r.probe.kept); }, kOnNew, kRetry,
     kWhileAllWorked, kProbe, Trying, &Probe::flags},
    {FsStep::kMatchOwner, GiveOwner, kOnNew, kRetry, kWhileAllWorked, kProbe, Trying,
     &Probe::owner},
    {FsStep::kMatchAttributes,
     [](Run& r, OnEintr) { return MatchAttributes(r.New().fd.get(), r.probe.kept); }, kOnNew,
     kRetry, kWhileAllWorked, kProbe, Trying, &Probe::attributes},
};

// Exchanges the new file (by its name) with the target; twice puts them back.
Status Exchange(Run& r, OnEintr rule) {
  return Sys(rule, [&] {
    return renameat2(r.dir(), r.New().name.c_str(), r.dir(), r.target.name.c_str(),
                     RENAME_EXCHANGE);
  });
}

// Gives the named new file a target's name that nothing had: never over an entry made since.
// A file named so from the start (in an append-only folder) has it already.
Status PutNew(Run& r, OnEintr) {
  if (r.existed) return 0;  // exchanged or renamed by the steps that follow
  NewFile& temp = r.New();
  Status put = temp.name == r.target.name
                   ? Status()
                   : RenameNoReplace(r.dir(), temp.name.c_str(), r.target.name.c_str());
  r.changed = put.err == EEXIST;
  if (!put.ok()) return r.changed ? Status() : put;
  temp.name.clear();
  return 0;
}

// The exchange leaves the old file under the new file's name: the file checked, or one that goes
// back.
Status ExchangeIn(Run& r, OnEintr rule) {
  if (Status exchanged = Exchange(r, rule); !exchanged.ok()) return exchanged;
  r.exchanged = true;
  r.old_out = true;
  struct stat out;
  r.looked =
      Sys(rule, [&] { return fstatat(r.dir(), r.New().name.c_str(), &out, AT_SYMLINK_NOFOLLOW); });
  r.checked = r.looked.ok() && SameFile(out, r.target.info);
  return 0;
}

// What came out was not the target: it goes back (where it cannot, that is said).
Status ExchangeBack(Run& r, OnEintr rule) {
  if (Status back = Exchange(r, rule); !back.ok()) return back;
  r.old_out = false;
  r.changed = r.looked.ok() || r.looked.err == ENOENT;
  return r.changed ? Status() : r.looked;
}

Status RemoveOld(Run& r, OnEintr rule) {
  Status removed = Sys(rule, [&] { return unlinkat(r.dir(), r.New().name.c_str(), 0); });
  if (removed.ok()) r.old_out = false;
  return removed;
}

// Where the file system has no exchange: a rename over the target, right after a last check.
Status RenameOver(Run& r, OnEintr rule) {
  int err = r.fell.err;
  if (err != EINVAL && err != ENOSYS && err != EOPNOTSUPP) return r.fell;
  struct stat now;
  const char* name = r.target.name.c_str();
  Status looked = Sys(rule, [&] { return fstatat(r.dir(), name, &now, AT_SYMLINK_NOFOLLOW); });
  r.changed = looked.err == ENOENT || (looked.ok() && !SameFile(now, r.target.info));
  if (r.changed || !looked.ok()) return r.changed ? Status() : looked;
  Status renamed =
      Sys(rule, [&] { return renameat(r.dir(), r.New().name.c_str(), r.dir(), name); });
  if (!renamed.ok()) return renamed;
  r.New().name.clear();
  return 0;
}

// The new file, tried already: its bytes, its mode (which a change of owner, a write and an ACL
// alter; a new name keeps the mode it was made with), the flush, its name, its place, the folder.
constexpr PlanStep kByRenameSteps[] = {
    {FsStep::kWrite,
     [](Run& r, OnEintr rule) { return WritePieces(r.New().fd.get(), r.bytes, -1, rule); }, kOnNew},
    {FsStep::kMatchMode,
     [](Run& r, OnEintr rule) {
       return Sys(rule, [&] { return fchmod(r.New().fd.get(), r.target.info.st_mode & 07777); });
     },
     kOnNew, kRetry, kWhileAllWorked, kStop, [](const Run& r) { return r.existed; }},
    {FsStep::kSync, [](Run& r, OnEintr) { return Sync(r.New().fd.get()); }, kOnNew},
    {FsStep::kNameTemp,
     [](Run& r, OnEintr) {
       Status named = Name(r.target.folder, r.New());
       r.changed = named.err == EEXIST && !r.New().chosen.empty();  // the new name was taken
       if (named.ok()) r.temp = r.target.folder.Path(r.New().name);
       return r.changed ? Status() : named;
     },
     kOnNew},
    {FsStep::kRename, PutNew},
    {FsStep::kExchange, ExchangeIn, kOnTarget, kRetry, kWhileAllWorked, kFallBack,
     [](const Run& r) { return r.existed; }},
    {FsStep::kExchangeBack, ExchangeBack, kOnTarget, kRetry, kWhileAllWorked, kStop,
     [](const Run& r) { return r.exchanged && !r.checked; }},
    {FsStep::kRemoveOld, RemoveOld, kOnNew, kRetry, kWhileAllWorked, kSay,
     [](const Run& r) { return r.exchanged && r.checked; }},
    {FsStep::kRenameOver, RenameOver, kOnTarget, kRetry, kWhileAllWorked, kStop,
     [](const Run& r) { return r.existed && !r.fell.ok(); }},
    // In place, and flushed already: neither a close that fails nor the folder's flush takes the
    // content. The file written is the target's state.
    {FsStep::kClose,
     [](Run& r, OnEintr) {
       if (fstat(r.New().fd.get(), &r.target.info) == 0) r.target.exists = true;
       return Close(r.New().fd);
     },
     kOnTarget, kOnce, kWhileAllWorked, kIgnore},
    {FsStep::kSyncFolder, [](Run& r, OnEintr) { return SyncFolder(r.target.folder); }, kOnFolder,
     kRetry, kWhileAllWorked, kIgnore},
    {FsStep::kRemoveTemp, RemoveNew, kOnNew, kRetry, kOnceOneFailed, kIgnore,
     [](const Run& r) { return NewMade(r) && !r.old_out; }},
};

// A device or FIFO: opened without waiting (a FIFO nobody reads fails at once), written as it
// stands (a handled signal abandons the wait for a slow reader), closed whatever the write gave.
constexpr PlanStep kStraightSteps[] = {
    {FsStep::kOpenTarget, [](Run& r, OnEintr) { return OpenTarget(r, O_WRONLY | O_NONBLOCK); }},
    {FsStep::kWrite,
     [](Run& r, OnEintr rule) {
       Status written = WritePieces(r.fd.get(), r.bytes, -1, rule);
       if (written.ok()) (void)fstat(r.fd.get(), &r.target.info);  // the stamp only
       return written;
     },
     kOnTarget, kGiveUp},
    {FsStep::kClose, [](Run& r, OnEintr) { return Close(r.fd); }, kOnTarget, kOnce, kAlways, kStop,
     [](const Run& r) { return r.fd.valid(); }},
};

// Refused: the new file the probe made goes.
constexpr PlanStep kRefusedSteps[] = {
    {FsStep::kRemoveTemp, RemoveNew, kOnNew, kRetry, kAlways, kIgnore, NewMade},
};

Plan PlanOf(Way way) {
  const Plan plans[] = {kByRenameSteps, kInPlacePlan, kStraightSteps, kRefusedSteps};
  return plans[static_cast<int>(way)];
}

// Removes the named new file when an exception (memory refused) leaves the save. Allocates
// nothing.
struct RemovedOnThrow {
  const Run& r;
  int exceptions = std::uncaught_exceptions();

  ~RemovedOnThrow() {
    const std::string& name = r.probe.temp.name;
    if (std::uncaught_exceptions() > exceptions && !name.empty() && !r.old_out &&
        name != r.target.name) {
      unlinkat(r.dir(), name.c_str(), 0);
    }
  }
};

SaveResult WriteTarget(Target& target, const Pieces& bytes, const FileSystem& fs) {
  Run r{target, bytes};
  RemovedOnThrow removed{r};
  r.existed = target.exists;
  r.shown = target.Path();
  r.folder = target.folder.Openable();
  EntryName entry;
  r.New().pattern.assign(entry, TempPattern(target.name, entry));
  r.temp = target.folder.Path(r.New().pattern);
  SaveResult probed = RunPlan(kProbeSteps, r, fs);
  if (r.changed) return probed;
  r.chosen = ChooseWay(target, r.probe);
  SaveResult written = RunPlan(PlanOf(r.chosen.way), r, fs);
  if (r.chosen.way != Way::kRefused) return written;
  return {r.chosen.refusal, r.chosen.err, {}};
}

}  // namespace

SaveResult RunPlan(Plan plan, Run& r, const FileSystem& fs) {
  for (const PlanStep& row : plan) {
    if (row.runs != kAlways && (row.runs == kOnceOneFailed) != r.Stopped()) continue;
    if (row.applies != nullptr && !row.applies(r)) continue;
    Status done = fs.Check(row.step, Where(r, row.acts).c_str());
    if (done.ok()) done = row.act(r, row.eintr);
    if (row.found != nullptr) r.probe.*row.found = done;
    if (done.ok()) continue;
    if (row.fails == kStop && !r.Stopped()) r.failed = done;
    if (row.fails == kSay && r.said.ok()) r.said = done;
    if (row.fails == kFallBack) r.fell = done;
  }
  SaveResult result = r.changed ? Changed() : Failed(r.failed);
  if (result.saved()) result.err = r.said.err;
  // What the exchange took out, or a backup, that still holds the old content stays, and is said.
  if (r.old_out) result.kept = std::move(r.temp);
  if (r.backed_up && !r.backup.name.empty()) result.kept = std::move(r.where);
  return result;
}

}  // namespace save_steps

using namespace save_steps;

SaveResult WriteFileSafely(Target& target, const Pieces& bytes, const FileSystem& fs) {
  try {
    return WriteTarget(target, bytes, fs);
  } catch (const std::bad_alloc&) {
    // Memory refused on the way: the new file went as the save unwound (RemovedOnThrow), and
    // the target was not replaced.
    return Failed(ENOMEM);
  }
}
