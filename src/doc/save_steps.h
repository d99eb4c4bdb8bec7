// The parts of a save that its files share (see doc/save.h for what a save does, and the comment
// at the top of doc/save.cc for how): the target as the walk found it, new files made beside it,
// and the plain file steps, each returning a Status. Only the save's own files include this.
#pragma once

#include <limits.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/fd.h"
#include "core/signals.h"
#include "core/status.h"
#include "doc/file_system.h"
#include "doc/save.h"
#include "doc/save_names.h"

namespace save_steps {

// A system call's result (0 or -1) as a status.
inline Status Errno(int result) {
  return result == 0 ? 0 : errno;
}

// A save that failed with `err` (none when it is 0), and one whose target changed.
inline SaveResult Failed(Status status) {
  return status.ok() ? SaveResult{} : SaveResult{SaveOutcome::kFailed, status.err, {}};
}
inline SaveResult Changed() {
  return {SaveOutcome::kTargetChanged, 0, {}};
}

// Runs one step through the seam: its failure when the seam fails it, else the call's (an
// Status, or a SaveResult for the steps that can find the target changed).
template <typename Call>
auto Step(const FileSystem& fs, FsStep step, const std::string& path, Call call)
    -> decltype(call()) {
  if (Status failed = fs.Check(step, path.c_str()); !failed.ok()) {
    if constexpr (std::is_same_v<decltype(call()), SaveResult>) {
      return Failed(failed);
    } else {
      return failed;
    }
  }
  return call();
}

// How a step's own system call treats a signal that interrupts it (EINTR). A step is never run
// again as a whole: its action is handed the rule and applies it to its call.
enum class OnEintr {
  kRetry,   // retried: the call finishes, and the signal is acted on afterwards
  kGiveUp,  // a device's or a FIFO's write: given up as soon as a handled signal is pending
  kOnce,    // never retried: an interrupted close has closed the descriptor on this system
};

// A system call's result as a status, the call treated as `rule` says.
template <typename Call>
Status Sys(OnEintr rule, Call call) {
  auto stop = [rule] { return rule == OnEintr::kGiveUp && PendingSignal() != 0; };
  return (rule == OnEintr::kOnce ? call() : RetryOnEintr(call, stop)) == -1 ? errno : 0;
}

// When a step of a table runs.
enum class Runs {
  kWhileAllWorked,  // only while every step before it worked
  kOnceOneFailed,   // only once a step before it failed: it puts the old state back
  kAlways,          // either way: it closes what the steps opened
};

// A row of a table of steps on `Run`, the state the steps share: the step the seam is asked
// about, its action (handed the row's EINTR rule), when it runs, whether its failure is the
// table's, and a condition on the state (none: it always applies).
template <typename Run>
struct StepRow {
  FsStep step;
  Status (*act)(Run&, OnEintr);
  OnEintr eintr = OnEintr::kRetry;
  Runs runs = Runs::kWhileAllWorked;
  bool tolerated = false;  // its failure does not fail the table
  bool (*applies)(const Run&) = nullptr;
};

// Runs one row through the seam, the seam told it acts on `path`.
template <typename Row, typename Run>
Status RunStep(const FileSystem& fs, const Row& row, Run& run, const std::string& path) {
  if (Status failed = fs.Check(row.step, path.c_str()); !failed.ok()) return failed;
  return row.act(run, row.eintr);
}

// Runs a table of steps in order, each through the seam on `run.Where(step)`: the first failure
// that is not tolerated is the table's.
template <typename Run, std::size_t N>
Status RunSteps(const FileSystem& fs, const StepRow<Run> (&rows)[N], Run& run) {
  Status failed;
  for (const StepRow<Run>& row : rows) {
    if (row.runs != Runs::kAlways && (row.runs == Runs::kOnceOneFailed) == failed.ok()) continue;
    if (row.applies != nullptr && !row.applies(run)) continue;
    Status done = RunStep(fs, row, run, run.Where(row.step));
    if (failed.ok() && !row.tolerated) failed = done;
  }
  return failed;
}

// Same file, same kind: what a check found and what was opened or is there now.
inline bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino &&
         (a.st_mode & S_IFMT) == (b.st_mode & S_IFMT);
}

// ---------------------------------------------------------------------------------------------
// Opening the target the walk found (doc/save_steps.cc)

// Opens the target the walk found, with `flags`, never following a link nor making a file,
// and checks that it is what was found (its state now goes to `now`).
SaveResult OpenChecked(const Target& target, int flags, Fd& fd, struct stat& now);

// ---------------------------------------------------------------------------------------------
// New files: unnamed until complete where the system allows, else under a unique name
// (doc/save_steps.cc)

// Tries unique names from `pattern` (doc/save_names.h) until `make(name)` succeeds or fails
// for another reason than an existing entry. Leaves the name made in `name`.
template <typename Make>
Status WithUniqueName(const std::string& pattern, std::string& name, Make make) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = pattern;
    FillRandom(candidate);
    Status made = make(candidate);
    if (made.ok()) name = std::move(candidate);
    if (made.err != EEXIST) return made;
  }
  return EEXIST;
}

/// A file being made in a folder: unnamed (O_TMPFILE) until Name() links it, or named from the
/// start.
struct NewFile {
  Fd fd;
  std::string pattern;    // the name to make unique
  std::string chosen;     // or the name it is to have, already known to be free
  std::string name;       // the name it has, empty while unnamed
  std::string companion;  // the name of its companion record, if it has one

  std::string Entry() const {
    if (!name.empty()) return name;
    return chosen.empty() ? pattern : chosen;
  }
};

// Opens a new empty file in `folder` with `mode` (before the umask, or the folder's default ACL).
Status CreateIn(const Folder& folder, NewFile& file, mode_t mode = 0600);

// The two ways CreateIn makes a file in the folder open at `dir`, for code that may not
// allocate: unnamed (EOPNOTSUPP where the system or the file system has no unnamed files), or
// under `name`, which nothing may hold yet (EEXIST). Each returns 0 or the errno.
Status OpenUnnamed(int dir, mode_t mode, Fd& fd);
Status OpenNamed(int dir, const char* name, mode_t mode, Fd& fd);

// Links the unnamed file open at `fd` into the folder open at `dir` as `name`; never over an
// existing entry (EEXIST). Allocates nothing.
Status LinkUnnamed(int fd, int dir, const char* name);

// Renames `from` to `to` in the folder open at `dir`, never over an existing entry (EEXIST):
// where the file system has no such rename, a second link is made and the first removed.
// Allocates nothing.
Status RenameNoReplace(int dir, const char* from, const char* to);

// Gives a complete unnamed file its name (the chosen one, or a unique one).
Status Name(const Folder& folder, NewFile& file);

// Closes a file that is not wanted: an unnamed one vanishes, a named one is removed, and so
// is its companion. Fails as the file's removal fails; a file that stays keeps its name in
// `file` and its companion.
Status Discard(const Folder& folder, NewFile& file, FsStep remove, const FileSystem& fs);

// ---------------------------------------------------------------------------------------------
// Plain file steps (doc/save_steps.cc)

// Writes every byte from `offset` on, carrying on after short writes. A file's write (kRetry)
// finishes before a signal is acted on; a device's or a FIFO's (kGiveUp, non-blocking) waits for
// a slow reader and is abandoned with EINTR once a handled signal is pending.
Status WriteAll(int fd, std::span<const char> bytes, off_t offset = -1,
                OnEintr rule = OnEintr::kRetry);

// Writes every piece in order, from `offset` on (or from the descriptor's position when it is
// negative).
Status WritePieces(int fd, const Pieces& bytes, off_t offset = -1,
                   OnEintr rule = OnEintr::kRetry);

// Copies the first `size` bytes of `from` to the same offsets of `to` (EIO when `from` turns
// out shorter), through `spare` (kGatherRoom bytes) when no buffer of its own can be had.
Status CopyBytes(int from, int to, off_t size, char* spare = nullptr);

Status Sync(int fd);
Status SyncFolder(const Folder& folder);

// Closing: an interrupted close has still closed the descriptor on this system.
Status Close(Fd& fd);

// Reserves the space for `size` bytes without changing the file's size, so that a full disk
// fails before any old byte is overwritten and leaves the file as it was; so does a size past
// the file-size limit (EFBIG). Filesystems that cannot reserve are written without.
Status Reserve(int fd, off_t size);

// Writes `text` to a new file `name` in `folder` and flushes it (EEXIST when the name is
// taken); a failure leaves nothing.
Status WriteRecord(const Folder& folder, const std::string& name, const std::string& text);

// ---------------------------------------------------------------------------------------------
// Extended attributes (doc/save_attributes.cc)

/// Extended attributes, names with their values.
using Attributes = std::vector<std::pair<std::string, std::string>>;

/// What a file has besides its bytes that a new file must be given: its extended attributes
/// and its inode flags.
struct Kept {
  Attributes attributes;
  bool has_flags = false;  // the file system keeps inode flags
  int flags = 0;
  bool write_refused = false;  // the file could be opened for reading only, not permitted to write
  bool listed = true;  // its attributes could be listed (false: the file system said it has none)
};

// Reads the extended attributes (but `security.capability`) and the inode flags of the target
// the walk found, through a descriptor of its own, opened for writing without truncation (the
// walk's cannot list them) and checked to be the target.
SaveResult ReadKept(const Target& target, Kept& kept);

// Gives the file open at `fd` exactly the attributes of `kept`: removes those it has that are not
// among them, and sets each one. ENOTSUP when the target's could not be listed but this file's
// can.
Status MatchAttributes(int fd, const Kept& kept);

// Gives the empty new file open at `fd` the user-modifiable inode flags of `kept` but
// append-only and immutable, and reads them back: EOPNOTSUPP when they did not hold.
Status MatchFlags(int fd, const Kept& kept);

// The inode flags of the folder open at `folder` (0 where the file system has none).
int FolderFlags(int folder);

// ---------------------------------------------------------------------------------------------
// The way a file is written (doc/save_way.cc)

enum class Way {
  kByRename,  // a new file takes the target's place (exchanged or renamed), or its new name
  kInPlace,   // the target is written in place, behind a backup of its old content
  kStraight,  // a device or a FIFO: written as it stands
  kRefused,   // not written at all: `err` of the step that failed, or the target's marks
};

// Why: one reason for each row of the table in ChooseWay.
enum class WayReason {
  kNoFile,          // no file there: a new one is named
  kNotRegular,      // a device or a FIFO
  kImmutable,       // the file is marked immutable
  kAppendOnly,      // the file is marked append-only
  kUnreadable,      // its attributes or flags could not be read
  kWriteRefused,    // it may not be written
  kHardLinks,       // more than one hard link: the other names would keep the old content
  kFolderMarked,    // the folder is append-only or immutable
  kFolderRefuses,   // the folder refuses a new file (EACCES, EPERM, EROFS)
  kCannotCreate,    // a new file cannot be made for another reason (no space, no inodes...)
  kFlags,           // the new file cannot be given the inode flags
  kOwner,           // the new file cannot be given the owner or group
  kAttributes,      // the new file cannot be given an extended attribute
  kAttributeFailed, // setting an attribute failed for another reason
  kReplace,         // nothing stands in the way of replacing the file
};

// What the trial steps of a save found. A step not yet tried counts as one that worked.
struct Trials {
  Status read;          // the target's attributes and flags read (ReadKept)
  const Kept* kept = nullptr;
  int folder_flags = 0;  // the folder's inode flags
  Status create;        // the new file made in the folder
  Status flags;         // given the target's inode flags
  Status owner;         // given its owner and group
  Status attributes;    // given its extended attributes
};

struct Chosen {
  Way way;
  WayReason reason;
  int err = 0;  // kRefused: the errno that stands (0 for a marked file)
};

// The one place that says how a file is written: the first row of its table that the target or
// the trials so far match. A save asks again after each trial step, until the way is no longer
// by rename or every step has worked.
Chosen ChooseWay(const Target& target, const Trials& trials);

// ---------------------------------------------------------------------------------------------
// Writing in place (doc/save_in_place.cc)

// A regular file written in place, its old content kept in a backup until the new content is
// on disk (see the picture in doc/save.cc).
SaveResult WriteKeepingOld(Target& target, const Pieces& bytes, const FileSystem& fs);

// The steps of a write in place, as its tables list them.
std::vector<FsStep> InPlaceSteps();

}  // namespace save_steps
