// What a save finds out before it writes (the probe) and the one table that chooses, from that,
// how the file is written (doc/save_way.cc); what the target has that a new file must be given
// (doc/save_attributes.cc).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "core/status.h"
#include "doc/new_file.h"
#include "doc/save.h"

namespace save_steps {

/// What a file has besides its bytes that a new file must be given: its extended attributes
/// (names with their values) and its inode flags.
struct Kept {
  std::vector<std::pair<std::string, std::string>> attributes;
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

// What a save found out before writing: the target's attributes and flags, its folder's flags,
// and, where the target alone does not decide the way, a new empty file made beside it and
// given what the target has. A step not tried counts as one that worked.
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

// The one place that says how a file is written: the first row of its table that the target and
// the finished probe match.
Chosen ChooseWay(const Target& target, const Probe& probe);

// Whether the target still leaves the way open before the probe makes a new file: no row but a
// rename's matches what is known of it so far. A device, a FIFO, a marked file or folder, a file
// with other names or one whose attributes cannot be read decides it alone.
bool NeedsNewFile(const Target& target, const Probe& probe);

}  // namespace save_steps
