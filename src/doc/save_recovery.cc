// Recovery files: a new file of the whole text under the first free name, never over an
// existing entry.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "core/fd.h"
#include "core/path.h"
#include "doc/save.h"
#include "doc/save_steps.h"

using namespace save_steps;

namespace {

// Gives the complete file `file` in `folder` the name `name`, never over an existing entry
// (EEXIST).
Status NameNew(const Folder& folder, NewFile& file, const std::string& name) {
  Status named;
  if (file.name.empty()) {
    named = LinkUnnamed(file.fd.get(), folder, name);
  } else {
    int dir = folder.fd.get();
    const char* from = file.name.c_str();
    named = Errno(
        RetryOnEintr([&] { return renameat2(dir, from, dir, name.c_str(), RENAME_NOREPLACE); }));
    if (named.err == EINVAL) {
      // No rename that refuses to replace here: a second link, then the first one goes.
      named = Errno(RetryOnEintr([&] { return linkat(dir, from, dir, name.c_str(), 0); }));
      if (named.ok()) unlinkat(dir, from, 0);
    }
  }
  if (named.ok()) file.name = name;
  return named;
}

}  // namespace

Status WriteNewFile(const std::string& folder, const char* base, const Pieces& bytes,
                    std::string& path) {
  path = JoinPath(folder, base);
  Folder place;
  place.fd = Fd(RetryOnEintr([&] {
    return open(folder.empty() ? "." : folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  }));
  if (!place.fd.valid()) return errno;
  NewFile file;
  EntryName entry;
  file.pattern.assign(entry, HiddenRecoveryPattern(base, entry));
  const FileSystem none;
  if (Status created = CreateIn(place, file); !created.ok()) return created;
  Status written = WritePieces(file.fd.get(), bytes);
  if (written.ok()) written = Sync(file.fd.get());
  // The first free name; a cut copy never bears one.
  bool named = false;
  for (int k = 0; written.ok() && !named && k < kRecoveryNames; ++k) {
    written = NameNew(place, file, std::string(entry, RecoveryName(base, k, entry)));
    named = written.ok();
    if (written.err == EEXIST && k < kRecoveryNames - 1) written = 0;
  }
  if (!written.ok()) {
    // A hidden copy that cannot be removed is named when a session next starts in that folder.
    (void)Discard(place, file, FsStep::kRemoveTemp, none);
    return written;
  }
  path = JoinPath(folder, file.name);
  (void)file.fd.Close();  // flushed and named: a failed close takes nothing from it
  // The file is named and whole; a folder that cannot be flushed does not undo that.
  (void)SyncFolder(place);
  return 0;
}
