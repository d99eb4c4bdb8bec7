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
// (EEXIST). Returns 0 or an errno.
int NameNew(const Folder& folder, NewFile& file, const std::string& name) {
  if (file.name.empty()) {
    int err = LinkUnnamed(file.fd.get(), folder, name);
    if (err == 0) file.name = name;
    return err;
  }
  int dir = folder.fd.get();
  const char* from = file.name.c_str();
  int err = Errno(
      RetryOnEintr([&] { return renameat2(dir, from, dir, name.c_str(), RENAME_NOREPLACE); }));
  if (err == EINVAL) {
    // No rename that refuses to replace here: a second link, then the first one goes.
    err = Errno(RetryOnEintr([&] { return linkat(dir, from, dir, name.c_str(), 0); }));
    if (err == 0) unlinkat(dir, from, 0);
  }
  if (err == 0) file.name = name;
  return err;
}

}  // namespace

int WriteNewFile(const std::string& folder, const char* base, const Pieces& bytes,
                 std::string& path) {
  path = JoinPath(folder, base);
  Folder place;
  place.fd = Fd(RetryOnEintr([&] {
    return open(folder.empty() ? "." : folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  }));
  if (!place.fd.valid()) return errno;
  NewFile file;
  file.pattern = std::string(".") + base + "-" + kRandom;
  const FileSystem none;
  if (int err = CreateIn(place, file); err != 0) return err;
  int err = WritePieces(file.fd.get(), bytes);
  if (err == 0) err = Sync(file.fd.get());
  // The first free name; a cut copy never bears one.
  bool named = false;
  for (int k = 0; err == 0 && !named && k < 100; ++k) {
    std::string name = k == 0 ? std::string(base) : std::string(base) + "." + std::to_string(k);
    err = NameNew(place, file, name);
    named = err == 0;
    if (err == EEXIST && k < 99) err = 0;
  }
  if (err != 0) {
    Discard(place, file, FsStep::kRemoveTemp, none);
    return err;
  }
  path = JoinPath(folder, file.name);
  file.fd.Close();
  SyncFolder(place);
  return 0;
}
