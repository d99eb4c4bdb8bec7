// Stamps: the place a name led to when it was last read or written and the file found there
// (docs/HACKING.md), and what another program changed since.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>

#include "core/fd.h"
#include "core/status.h"
#include "doc/target.h"

/// The place this session last loaded or saved under a name, and the file it found there.
struct FileStamp {
  bool known = false;         // a stamp was taken and the name could be resolved
  bool exists = false;        // a file was there
  std::string name;           // the name as the session gave it
  std::string path;           // the place, as Target::place
  bool folder_known = false;  // else only `path` and `reached` tell the place
  dev_t folder_dev = 0;
  ino_t folder_ino = 0;
  std::string last;  // the last part's name in that folder
  struct stat info = {};
  Identity id;  // the file's device, inode and birth time
  // The file itself, kept open until the next stamp: while it is held its inode cannot be freed
  // and handed to a file made later, so its number names no other file. Copies share it.
  std::shared_ptr<const Fd> held;
  std::size_t reached = 0;  // a missing folder: how many folders the walk passed before it
};

/// Stamps what a load or a save of `name` found (`found` is what the walk gave), holding the file
/// the load read (`target.file`) or the file the save wrote. A name whose folder is missing is
/// stamped as missing where it would be; a name refused otherwise leaves the stamp unknown.
void TakeStamp(FileStamp& stamp, const char* name, Target& target, Status found);

enum class [[nodiscard]] DiskChange{
    kNone,           // nothing another program did stands in the way of a save to the name
    kChanged,        // the stamped file changed in place
    kOwnerChanged,   // the stamped file has another owner or group
    kReplaced,       // another file stands at the stamped place
    kCreated,        // the stamp found nothing, and a file is there now
    kForeignFolder,  // the stamp found a folder missing, and another user has made one on the way
    kElsewhere,      // the name now leads to another place than the stamped one
};

/// What another program did since the stamp, seen from a save to `name` that found `target`
/// (`found` is what Resolve gave). A stamped file gone is no change.
DiskChange ChangedSince(const FileStamp& stamp, const char* name, const Target& target,
                        Status found);

/// The owner of the first folder on the way to `target` that was missing at the stamp and is
/// owned by neither the user nor root; Target::kNoOwner when there is none.
uid_t NewFolderOwner(const FileStamp& stamp, const Target& target);

/// Whether a name that Resolve found to lead to `target` (`found` is what it gave) leads to the
/// stamped file or to the place the stamp found it at.
bool LeadsTo(const FileStamp& stamp, const Target& target, Status found);
