// New files a save or a recovery file makes in a folder: unnamed (O_TMPFILE) until complete
// where the system allows, else under a unique name from doc/save_names.h.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <string>
#include <utility>

#include "core/fd.h"
#include "core/status.h"
#include "doc/save.h"
#include "doc/save_names.h"

namespace save_steps {

// Tries unique names from `pattern` until `make(name)` succeeds or fails for another reason
// than an existing entry. Leaves the name made in `name`.
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
// allocate: unnamed (EOPNOTSUPP where the system or the file system has no unnamed files), or
// under `name`, which nothing may hold yet (EEXIST).
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

// Closes a file that is not wanted: an unnamed one vanishes, a named one is removed, and then
// its companion. Fails as the file's removal fails; a file that stays keeps its name.
Status Remove(const Folder& folder, NewFile& file);

}  // namespace save_steps
