// What a caller of the save needs: the target a name leads to, the file write that never leaves
// a half-written file behind where it can be avoided (its bytes are doc/pieces.h), what it did,
// and the stamps that tell another program's change. Reading files back is doc/load.h.
#pragma once

#include <sys/stat.h>

#include <span>
#include <string>

#include "core/fd.h"
#include "core/status.h"
#include "doc/file_system.h"
#include "doc/pieces.h"

/// What a save did.
enum class SaveOutcome {
  kSaved,             // the new content is in the file
  kFailed,            // it is not: `err` says why
  kTargetChanged,     // the target changed kind or identity between the checks and the write
                      // (replaced, removed, turned into a link, or made where nothing was):
                      // nothing was written over it
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

/// A folder a save works in: its descriptor, and its path as the user's name leads to it ("" for
/// the working folder, else ending in "/"), which is what the seam and the messages see.
struct Folder {
  Fd fd;
  std::string shown;

  std::string Path(const std::string& name) const { return shown + name; }
  std::string Openable() const { return shown.empty() ? std::string(".") : shown; }
};

/// The entry a save writes, found once by Resolve before the save's first question and kept
/// until its end: every later step acts through its descriptors and compares with it.
struct Target {
  Folder folder;                 // the folder that holds it
  struct stat folder_info = {};  // that folder, when the walk reached it
  std::string name;              // its name there
  // Where it is: its absolute path, or where the working folder has none, the working folder's
  // device and inode ("DEV:INO") and the path from there.
  std::string place;
  bool entry = false;         // the name as given is an entry of its folder (a link, even a
                              // dangling one)
  bool exists = false;        // a file is reached
  bool through_link = false;  // a symbolic link was followed on the way
  bool unreached = false;     // the walk failed before the name's folder: `place` is where the
                              // entry would be
  struct stat info = {};      // what it is (never a link), when it exists; after a save, the
                              // file written

  std::string Shown() const { return folder.Path(name); }
  // Its absolute path; "" when there is none.
  std::string Absolute() const { return place.starts_with('/') ? place : std::string(); }
};

/// Walks `path` to the entry that a write reaches, following symbolic links; the entry need not
/// exist, its folder must. Fails with EACCES for a link that another user may have planted:
/// one that lies in a shared sticky folder and belongs to neither the user nor the folder's
/// owner, or one that belongs to neither the user nor root and leads to what its owner does not
/// own (for a new file, its folder). What was found before a failure stays in `target`.
Status Resolve(const char* path, Target& target);

/// Replaces the content of the file `target` leads to with `bytes`, keeping its permission bits,
/// owner, group, extended attributes and inode flags, so that a failure or a crash leaves the old
/// content whole (doc/save.cc tells how, and the exceptions). The file is reached only through
/// the target's descriptors; one that changed since it was found gives kTargetChanged. A backup
/// or an old file that stayed is `kept`. A pending SIGINT, SIGHUP or SIGTERM abandons only the
/// write to a device or FIFO (EINTR). After a save, `target.info` is the file written.
SaveResult WriteFileSafely(Target& target, const Pieces& bytes, const FileSystem& fs = {});

/// Where a name leads a save.
struct Resolved {
  std::string path;           // the entry's path, as the name leads there through its links
  std::string absolute;       // its absolute path, every link followed; "" when there is none
  bool through_link = false;  // a symbolic link lies on the way
  Fd folder;                  // the folder that holds the entry (O_PATH)
};

/// Follows the symbolic links on the way from `path` to the entry that a save writes, as
/// Resolve does; the entry need not exist.
Status ResolveLinks(const char* path, Resolved& resolved);

/// The folder that takes backups where the target's own folder cannot:
/// $XDG_STATE_HOME/morvax/backup, or ~/.local/state/morvax/backup when XDG_STATE_HOME is unset,
/// empty or relative. Empty when neither gives an absolute path (no home).
std::string BackupFolder();

/// The place this session last loaded or saved under a name, and the file it found there: the
/// name as given, the folder's identity and the last part's name (or, where the folder was not
/// there, the path where it would be), and that file's state, or that nothing was there.
struct FileStamp {
  bool known = false;   // a stamp was taken and the name could be resolved
  bool exists = false;  // a file was there
  std::string name;     // the name as the session gave it
  std::string path;     // the place, as Target::place
  bool folder_known = false;
  dev_t folder_dev = 0;
  ino_t folder_ino = 0;
  std::string last;  // the last part's name in that folder
  struct stat info = {};
};

/// Stamps what `name` leads to now (the file open at `fd`, when given, is what was read). A
/// name whose folder is missing (or cannot be walked) is stamped as missing at the place the
/// name would have; a name refused otherwise leaves the stamp unknown.
void TakeStamp(FileStamp& stamp, const char* name, int fd = -1);

/// Stamps what a save to `name` found and wrote (`found` is what Resolve gave for it).
void TakeStamp(FileStamp& stamp, const char* name, const Target& target, Status found);

enum class [[nodiscard]] DiskChange {
  kNone,       // nothing another program did stands in the way of a save to the name
  kChanged,    // the stamped file changed in place
  kCreated,    // the stamp found nothing, and a file is there now
  kElsewhere,  // the name now leads to another place or another file than the stamped one
};

/// What another program did since the stamp, seen from a save to `name` that found `target`
/// (`found` is what Resolve gave). The stamped place now holding another file, or the stamped
/// name leading to another place, is kElsewhere; another spelling that leads elsewhere is a
/// save to a new place, which is no change. A change in place is another size or modification
/// time, or a change time that moved while the mode, owner, group and link count stayed (those
/// alone change no text). A stamped file gone is no change.
DiskChange ChangedSince(const FileStamp& stamp, const char* name, const Target& target,
                        Status found);

/// Whether a name that Resolve found to lead to `target` (`found` is what it gave) leads to the
/// stamped file (the same device and inode) or to the place the stamp found it at.
bool LeadsTo(const FileStamp& stamp, const Target& target, Status found);

/// Writes `bytes` to a new file in `folder` ("" for the working folder) and gives it the first
/// free name of `base`, `base.1` ... `base.99`: never over an existing entry, mode 0600, flushed
/// to disk before it is named, then its folder. Until then it is unnamed, or (where the file
/// system has no unnamed files) `.base-XXXXXX`, removed on failure, so that a cut copy never
/// bears one of those names. The path used (or, on failure, the first one) goes to `path`,
/// NUL-terminated. Allocates nothing, and neither do the pieces of DocumentPieces given a room,
/// so that a recovery file can be written when memory has run out.
Status WriteNewFile(const char* folder, const char* base, const Pieces& bytes,
                    std::span<char> path);
