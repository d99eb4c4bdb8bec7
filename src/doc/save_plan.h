// A save in three stages (docs/HACKING.md): the probe, the choice of way (doc/save_way.cc) and
// the chosen way's plan, each a table of steps run by one runner. Only the save's files include
// this.
#pragma once

#include <sys/stat.h>

#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/fd.h"
#include "core/status.h"
#include "doc/file_system.h"
#include "doc/save.h"
#include "doc/save_names.h"
#include "doc/save_steps.h"

namespace save_steps {

/// What a file has besides its bytes that a new file must be given.
struct Kept {
  std::vector<std::pair<std::string, std::string>> attributes;
  bool has_flags = false;  // the file system keeps inode flags
  int flags = 0;
  bool write_refused = false;  // the file could be opened for reading only, not permitted to write
  bool listed = true;  // its attributes could be listed (false: the file system said it has none)
};

// Reads the extended attributes (but `security.capability`) and the inode flags of the target,
// through a descriptor of its own checked to be the target.
SaveResult ReadKept(const Target& target, Kept& kept);

// Gives the file open at `fd` exactly the attributes of `kept` (ENOTSUP when the target's could
// not be listed but this file's can).
Status MatchAttributes(int fd, const Kept& kept);

// Gives the empty new file open at `fd` the user-modifiable inode flags of `kept` but
// append-only and immutable, and reads them back: EOPNOTSUPP when they did not hold.
Status MatchFlags(int fd, const Kept& kept);

// The inode flags of the folder open at `folder` (0 where the file system has none).
int FolderFlags(int folder);

// What the probe found out (a step not tried counts as one that worked).
struct Probe {
  Status read;  // the target's attributes and flags read (ReadKept)
  Kept kept;
  int folder_flags = 0;
  NewFile temp;       // the new file, empty
  Status create;      // made in the folder
  Status flags;       // given the target's inode flags
  Status owner;       // given its owner and group
  Status attributes;  // given its extended attributes

  bool Tried() const { return !create.ok() || !flags.ok() || !owner.ok() || !attributes.ok(); }
};

enum class Way {
  kByRename,  // a new file takes the target's place (exchanged or renamed), or its new name
  kInPlace,   // the target is written in place, behind a backup of its old content
  kStraight,  // a device or a FIFO: written as it stands
  kRefused,   // not written at all: `err` of the step that failed, or the marks that refuse it
};

struct Chosen {
  Way way;
  SaveOutcome refusal = SaveOutcome::kFailed;  // kRefused: what the save says
  int err = 0;  // kRefused: the errno that stands (EPERM for a marked file or folder)
  // kInPlace: the backup goes straight to the state folder, the folder's own refusing it (with
  // this errno); otherwise it goes beside the target, or where that fails, to the state folder.
  int no_backup_beside = 0;
};

// How the file is written: the first row of its table that the target and the probe match.
Chosen ChooseWay(const Target& target, const Probe& probe);

// Whether the target still leaves the way open before the probe makes a new file: no row but a
// rename's matches what is known of it so far.
bool NeedsNewFile(const Target& target, const Probe& probe);

// What the steps of one save share, from the probe to the end of the plan.
struct Run {
  Target& target;
  const Pieces& bytes;
  Probe probe = {};  // what the probe found; its `temp` is the new file
  Chosen chosen = {Way::kByRename};
  bool existed = false;  // a file was there when the save began (`target.exists` is the file
                         // written, once it is in place)
  // The paths the seam is told, made before the steps that may not ask for memory.
  std::string shown = {};    // the target's
  std::string folder = {};   // its folder's
  std::string temp = {};     // the new file's, by its pattern until it is named
  std::string where = {};    // the backup's, by its pattern until it is named
  std::string scratch = {};  // one made for a step before the write
  // The target opened to be written as it stands or in place, and what it was then.
  Fd fd = {};
  struct stat was = {};
  // In place: the backup and the folder it goes to.
  NewFile backup = {};
  Folder state = {};
  const Folder* backup_in = nullptr;
  bool backed_up = false;  // the backup is whole, flushed and named
  bool restored = false;   // after a failed write, the old content is whole in the target again
  // By rename: the exchange.
  bool exchanged = false;
  bool checked = false;  // what the exchange took out is the file that was checked
  bool old_out = false;  // the new file's name holds what the exchange took out
  Status looked = {};    // the look at what it took out
  // How the steps stand.
  Status failed = {};    // the first failure that stops the steps
  Status fell = {};      // the failure of a step that others stand in for (kFallBack)
  bool changed = false;  // the target changed since it was found: nothing is written over it
  Status said = {};      // a failure that leaves the save standing, said with what stays

  bool Stopped() const { return !failed.ok() || changed; }
  NewFile& New() { return probe.temp; }
  int dir() const { return target.folder.fd.get(); }
  // The name of the companion of a backup named `name`.
  std::string Companion(const std::string& name) const {
    EntryName entry;
    return std::string(entry, CompanionName(name, entry));
  }
};

// When a step runs.
enum class Runs {
  kWhileAllWorked,  // only while every step before it worked
  kOnceOneFailed,   // only once a step failed or found the target changed: it undoes or cleans
  kAlways,          // either way
};

// What a step's failure does.
enum class OnFailure {
  kStop,      // the save fails with it (unless it failed already)
  kIgnore,    // nothing: the new content is in place, or the save failed already
  kSay,       // the save stands, and the failure is said with what it left (`kept`)
  kFallBack,  // kept in `fell` for the steps that stand in for it, which give it back if they
  kProbe,     // what the probe found (`found`): the probe's later steps on the new file stop
};

// What the seam is told a step acts on.
// clang-format off
enum class Acts { kOnTarget, kOnFolder, kOnNew, kOnBackup, kOnBackupFolder, kOnCompanion,
                  kOnStateFolder };
// clang-format on

// One step (docs/HACKING.md tells the fields); no condition: always.
struct PlanStep {
  FsStep step;
  Status (*act)(Run&, OnEintr);
  Acts acts = Acts::kOnTarget;
  OnEintr eintr = OnEintr::kRetry;
  Runs runs = Runs::kWhileAllWorked;
  OnFailure fails = OnFailure::kStop;
  bool (*applies)(const Run&) = nullptr;
  Status Probe::*found = nullptr;  // kProbe: where its outcome goes
};

using Plan = std::span<const PlanStep>;
using enum Acts;
using enum OnEintr;
using enum Runs;
using enum OnFailure;

// Runs the steps in order, each through the seam; what the save came to.
SaveResult RunPlan(Plan plan, Run& run, const FileSystem& fs);

// The plan of a write in place (doc/save_in_place.cc).
extern const Plan kInPlacePlan;

// Steps more than one plan has: the target opened and checked, the new file removed.
Status OpenTarget(Run& r, int flags);
Status RemoveNew(Run& r, OnEintr);
bool NewMade(const Run& r);

}  // namespace save_steps
