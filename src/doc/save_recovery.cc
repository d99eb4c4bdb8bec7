// Recovery files: a new file of the whole text under the first free name, never over an
// existing entry. Nothing here allocates: a recovery file is written when memory has run out.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/fd.h"
#include "doc/save.h"
#include "doc/save_names.h"
#include "doc/save_steps.h"

using namespace save_steps;

namespace {

// `folder` and `name` joined into `out` ("" is the working folder); false when they do not fit.
bool Join(std::span<char> out, const char* folder, const char* name) {
  std::size_t length = std::strlen(folder);
  const char* slash = length > 0 && folder[length - 1] != '/' ? "/" : "";
  int n = std::snprintf(out.data(), out.size(), "%s%s%s", folder, slash, name);
  return n >= 0 && static_cast<std::size_t>(n) < out.size();
}

// Opens a new empty file in the folder open at `dir`: unnamed where the system allows, else
// under `hidden` (its X's made unique), and then `named` says so.
Status Create(int dir, std::span<char> hidden, Fd& fd, bool& named) {
  named = false;
  if (Status unnamed = OpenUnnamed(dir, 0600, fd); unnamed.err != EOPNOTSUPP) return unnamed;
  Status made = TryUniqueNames(hidden.first(std::strlen(hidden.data())),
                               [&] { return OpenNamed(dir, hidden.data(), 0600, fd); });
  named = made.ok();
  return made;
}

}  // namespace

Status WriteNewFile(const char* folder, const char* base, const Pieces& bytes,
                    std::span<char> path) {
  if (!Join(path, folder, base)) return ENAMETOOLONG;
  Folder place;
  place.fd = Fd(RetryOnEintr(
      [&] { return open(folder[0] == '\0' ? "." : folder, O_PATH | O_DIRECTORY | O_CLOEXEC); }));
  if (!place.fd.valid()) return errno;
  int dir = place.fd.get();
  EntryName hidden;
  EntryName name;
  if (HiddenRecoveryPattern(base, hidden) == 0) return ENAMETOOLONG;
  Fd fd;
  bool hidden_named = false;
  if (Status created = Create(dir, hidden, fd, hidden_named); !created.ok()) return created;
  Status written = WritePieces(fd.get(), bytes);
  if (written.ok()) written = Sync(fd.get());
  // The first free name; a cut copy never bears one.
  bool named = false;
  for (int k = 0; written.ok() && !named && k < kRecoveryNames; ++k) {
    written = ENAMETOOLONG;
    if (RecoveryName(base, k, name) > 0) {
      written =
          hidden_named ? RenameNoReplace(dir, hidden, name) : LinkUnnamed(fd.get(), dir, name);
    }
    named = written.ok();
    if (written.err == EEXIST && k < kRecoveryNames - 1) written = 0;
  }
  if (!written.ok()) {
    (void)fd.Close();  // the copy is not wanted
    // A hidden copy that cannot be removed is named when a session next starts in that folder.
    if (hidden_named) unlinkat(dir, hidden, 0);
    return written;
  }
  (void)Join(path, folder, name);  // cut short only when the folder's path is near the limit
  (void)fd.Close();                // flushed and named: a failed close takes nothing from it
  // The file is named and whole; a folder that cannot be flushed does not undo that.
  (void)SyncFolder(place);
  return 0;
}
