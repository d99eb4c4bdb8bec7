// Where a name leads: the one walk that a load and a save share, and what it found.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/fd.h"
#include "core/status.h"

/// What tells a file from every other: a number alone can pass to a new file once the old one
/// is freed, a birth time (where the file system reports one) cannot.
struct Identity {
  dev_t dev = 0;
  ino_t ino = 0;
  bool born_known = false;
  std::int64_t born_sec = 0;
  std::uint32_t born_nsec = 0;
};

/// The same file: the same device and inode, and the same birth time where both have one.
bool SameIdentity(const Identity& a, const Identity& b);

/// The state of the file open at `fd` and its identity (statx, or fstat where there is none).
Status Examine(int fd, struct stat& info, Identity& id);

/// A folder a save works in: its descriptor, and its path as the user's name leads to it ("" for
/// the working folder, else ending in "/"), which is what the seam and the messages see.
struct Folder {
  Fd fd;
  std::string shown;

  std::string Path(const std::string& name) const { return shown + name; }
  std::string Openable() const { return shown.empty() ? std::string(".") : shown; }
};

/// A folder the walk went through, from the name's first part to its last folder.
struct Passed {
  dev_t dev;
  ino_t ino;
  uid_t owner;
};

/// The entry a load reads or a save writes, found once by Resolve: every later step acts through
/// its descriptors and compares with it.
struct Target {
  Folder folder;                 // the folder that holds it
  struct stat folder_info = {};  // that folder, when the walk reached it; else the nearest
  std::string name;              // its name there
  // Where it is: its absolute path, or where the working folder has none, the working folder's
  // device and inode ("DEV:INO") and the path from there.
  std::string place;
  bool entry = false;           // the name as given is an entry of its folder (even a link)
  bool exists = false;          // a file is reached
  bool through_link = false;    // a symbolic link was followed on the way
  bool unreached = false;       // the walk failed before the name's folder: `place` is where the
                                // entry would be
  struct stat info = {};        // what it is (never a link); after a save, the file written
  Identity id;                  // its identity, when it exists (as the walk found it)
  std::vector<Passed> passed;   // the folders walked through, in order
  std::string link;             // the first link followed, as the name leads to it
  uid_t link_owner = kNoOwner;  // a link on the way owned by neither the user nor root: its owner
  bool refused = false;         // a link that another user may have set was refused
  Fd file;                      // ResolveToRead: the file, open for reading

  static constexpr uid_t kNoOwner = static_cast<uid_t>(-1);

  // The path as the name was spelled to reach it (its caret display is term's Shown).
  std::string Path() const { return folder.Path(name); }
  // Its absolute path; "" when there is none.
  std::string Absolute() const { return place.starts_with('/') ? place : std::string(); }
};

/// Walks `path` to the entry that a write reaches, following symbolic links; the entry need not
/// exist, its folder must. Fails with EACCES (and sets `refused`) for a link that another user
/// may have planted (see PlantedLink and Untrusted in doc/target.cc). What was found before a
/// failure stays in `target`.
Status Resolve(const char* path, Target& target);

/// Resolve for a load: the file found is opened for reading (`target.file`). A FIFO's open waits
/// for a writer; EINTR once a signal the editor acts on (core/signals.h) has come.
Status ResolveToRead(const char* path, Target& target);

/// A name that only the kernel can resolve (/dev/stdin, /dev/fd/N, /proc/PID/fd/N, where a
/// process substitution's pipe is): a load opens it as given.
bool KernelResolved(const char* path);

/// The folder that holds the target has been removed.
bool FolderRemoved(const Target& target);
