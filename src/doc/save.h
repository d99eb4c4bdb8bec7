// What a caller of the save needs: the file write that never leaves a half-written file behind
// where it can be avoided, what it did, and the recovery file.
#pragma once

#include <span>
#include <string>

#include "core/status.h"
#include "doc/file_system.h"
#include "doc/pieces.h"
#include "doc/target.h"

/// What a save did.
enum class SaveOutcome {
  kSaved,             // the new content is in the file
  kFailed,            // it is not: `err` says why
  kTargetChanged,     // the target changed kind or identity since it was found (replaced,
                      // removed, made a link, or made): nothing was written over it
  kImmutable,         // the file is marked immutable: nothing was written
  kAppendOnly,        // the file is marked append-only: nothing was written
  kFolderImmutable,   // a new name in a folder marked immutable: nothing was made
  kFolderAppendOnly,  // a new name in a folder marked append-only that cannot take it whole
                      // (no unnamed files there): nothing was made
};

struct [[nodiscard]] SaveResult {
  SaveOutcome outcome = SaveOutcome::kSaved;
  int err = 0;       // kFailed: its errno; kSaved: 0, or why the backup `kept` could not be removed
  std::string kept;  // a backup that still holds the old content, when one stayed: its path

  bool saved() const { return outcome == SaveOutcome::kSaved; }
};

/// Replaces the content of the file `target` leads to with `bytes`, keeping its permission bits,
/// owner, group, extended attributes and inode flags, so that a failure or a crash leaves the old
/// content whole (doc/save.cc tells how). A pending SIGINT, SIGHUP or SIGTERM abandons only the
/// write to a device or FIFO (EINTR). After a save, `target.info` is the file written.
SaveResult WriteFileSafely(Target& target, const Pieces& bytes, const FileSystem& fs = {});

/// The folder that takes backups where the target's own folder cannot:
/// $XDG_STATE_HOME/morvax/backup, or ~/.local/state/morvax/backup when XDG_STATE_HOME is unset,
/// empty or relative. Empty when neither gives an absolute path (no home).
std::string BackupFolder();

/// Writes `bytes` to a new file in `folder` ("" for the working folder) and gives it the first
/// free name of `base`, `base.1` ... `base.99` (mode 0600, flushed before it is named, then its
/// folder), never over an entry: a cut copy is unnamed, or `.base-XXXXXX`. The path used (on
/// failure, the first one) goes to `path`. Allocates nothing, for the rescue.
Status WriteNewFile(const char* folder, const char* base, const Pieces& bytes,
                    std::span<char> path);
