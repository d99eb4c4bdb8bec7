// The plain file steps of a save and how their system calls treat EINTR, and the new files a save
// or a recovery file makes: unnamed (O_TMPFILE) until complete where the system allows, else
// under a unique name. Only the save's own files include this.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <span>
#include <string>
#include <utility>

#include "core/fd.h"
#include "core/signals.h"
#include "core/status.h"
#include "doc/pieces.h"
#include "doc/save.h"
#include "doc/save_names.h"

namespace save_steps {

// A save that failed with `err` (none when it is 0), and one whose target changed.
inline SaveResult Failed(Status status) {
  return status.ok() ? SaveResult{} : SaveResult{SaveOutcome::kFailed, status.err, {}};
}
inline SaveResult Changed() {
  return {SaveOutcome::kTargetChanged, 0, {}};
}

// How a step's own system call treats a signal that interrupts it (EINTR).
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

// Same file, same kind: what a check found and what was opened or is there now.
inline bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino &&
         (a.st_mode & S_IFMT) == (b.st_mode & S_IFMT);
}

// Opens the target with `flags`, never following a link nor making a file, and checks that it
// is what the walk found (its state now goes to `now`).
SaveResult OpenChecked(const Target& target, int flags, Fd& fd, struct stat& now);

// Writes every byte from `offset` on (or from the descriptor's position when it is negative).
// With kGiveUp (a non-blocking device or FIFO) it waits for a slow reader until a handled signal
// is pending, then gives EINTR.
Status WriteBytes(int fd, std::span<const char> bytes, off_t offset = -1,
                  OnEintr rule = OnEintr::kRetry);

// Writes every piece in order, as WriteBytes does.
Status WritePieces(int fd, const Pieces& bytes, off_t offset = -1, OnEintr rule = OnEintr::kRetry);

// Copies the first `size` bytes of `from` to the same offsets of `to` (EIO when `from` turns
// out shorter), through `spare` (kGatherRoom bytes) when no buffer of its own can be had.
Status CopyBytes(int from, int to, off_t size, char* spare = nullptr);

Status Sync(int fd);
Status SyncFolder(const Folder& folder);

// Closing: an interrupted close has still closed the descriptor on this system.
Status Close(Fd& fd);

// Sets aside the disk space for `size` bytes, so that a full disk (or the file-size limit: EFBIG)
// fails before any old byte is overwritten. File systems that cannot are written without.
Status ReserveSpace(int fd, off_t size);

// Writes `text` to a new file `name` in `folder` and flushes it (EEXIST when the name is
// taken); a failure leaves nothing.
Status WriteRecord(const Folder& folder, const std::string& name, const std::string& text);

// Fills the random part of `name` anew until `make()` fails for another reason than an existing
// entry. Allocates nothing.
template <typename Make>
Status TryUniqueNames(std::span<char> name, Make make) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    FillRandom(name);
    if (Status made = make(); made.err != EEXIST) return made;
  }
  return EEXIST;
}

// The same from `pattern` for `make(name)`; the name made goes to `name`.
template <typename Make>
Status WithUniqueName(std::string candidate, std::string& name, Make make) {
  Status made = TryUniqueNames(candidate, [&] { return make(candidate); });
  if (made.ok()) name = std::move(candidate);
  return made;
}

/// A file being made in a folder: unnamed until Name() links it, or named from the start.
struct NewFile {
  Fd fd;
  std::string pattern;    // the name to make unique
  std::string chosen;     // or the name it is to have, never over an entry (EEXIST)
  std::string name;       // the name it has, empty while unnamed
  std::string companion;  // the name of its companion record, if it has one

  std::string Entry() const {
    if (!name.empty()) return name;
    return chosen.empty() ? pattern : chosen;
  }
};

// Opens a new empty file in `folder` with `mode` (before the umask, or the folder's default
// ACL); with `unnamed_only`, EOPNOTSUPP where the file system has no unnamed files.
Status CreateIn(const Folder& folder, NewFile& file, mode_t mode = 0600, bool unnamed_only = false);

// The two ways CreateIn makes a file in the folder open at `dir`, for code that may not
// allocate: unnamed (EOPNOTSUPP where there are none), or under a new `name` (else EEXIST).
Status OpenUnnamed(int dir, mode_t mode, Fd& fd);
Status OpenNamed(int dir, const char* name, mode_t mode, Fd& fd);

// Links the unnamed file open at `fd` as `name`, or renames `from` to `to`, in the folder open at
// `dir`; never over an existing entry (EEXIST). Allocate nothing.
Status LinkUnnamed(int fd, int dir, const char* name);
Status RenameNoReplace(int dir, const char* from, const char* to);

// Gives a complete unnamed file its name (the chosen one, or a unique one).
Status Name(const Folder& folder, NewFile& file);

// Closes a file that is not wanted: an unnamed one vanishes, a named one is removed, and then
// its companion. Fails as the file's removal fails; a file that stays keeps its name.
Status Remove(const Folder& folder, NewFile& file);

}  // namespace save_steps
