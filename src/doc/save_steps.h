// The plain file steps of a save, each returning a Status, and how a step's system call treats
// EINTR. Only the save's own files include this; doc/save_plan.h says how steps make a save.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <span>
#include <string>

#include "core/fd.h"
#include "core/signals.h"
#include "core/status.h"
#include "doc/pieces.h"
#include "doc/save.h"

namespace save_steps {

// A save that failed with `err` (none when it is 0), and one whose target changed.
inline SaveResult Failed(Status status) {
  return status.ok() ? SaveResult{} : SaveResult{SaveOutcome::kFailed, status.err, {}};
}
inline SaveResult Changed() {
  return {SaveOutcome::kTargetChanged, 0, {}};
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

// Same file, same kind: what a check found and what was opened or is there now.
inline bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino &&
         (a.st_mode & S_IFMT) == (b.st_mode & S_IFMT);
}

// Opens the target the walk found, with `flags`, never following a link nor making a file,
// and checks that it is what was found (its state now goes to `now`).
SaveResult OpenChecked(const Target& target, int flags, Fd& fd, struct stat& now);

// Writes every byte from `offset` on (or from the descriptor's position when it is negative),
// carrying on after short writes. A file's write (kRetry) finishes before a signal is acted on;
// a device's or a FIFO's (kGiveUp, non-blocking) waits for a slow reader and is abandoned with
// EINTR once a handled signal is pending.
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

// Sets aside the disk space for `size` bytes without changing the file's size (fallocate), so
// that a full disk fails before any old byte is overwritten; so does a size past the file-size
// limit (EFBIG). File systems that cannot set space aside are written without.
Status ReserveSpace(int fd, off_t size);

// Writes `text` to a new file `name` in `folder` and flushes it (EEXIST when the name is
// taken); a failure leaves nothing.
Status WriteRecord(const Folder& folder, const std::string& name, const std::string& text);

}  // namespace save_steps
