#include "doc/leftovers.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string_view>

#include "core/fd.h"
#include "core/path.h"
#include "doc/save.h"
#include "doc/save_names.h"

namespace {

// Calls `found(entry)` for every entry of the folder open at `folder` (AT_FDCWD: the working
// folder) but "." and "..". Nothing when it cannot be listed. The folder is listed through a
// descriptor opened from it, never by its path, which may be longer than a path can be.
template <typename Found>
void ForEachEntry(int folder, Found found) {
  int listed =
      RetryOnEintr([&] { return openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  if (listed < 0) return;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(fdopendir(listed), &closedir);
  if (dir == nullptr) {
    close(listed);
    return;
  }
  while (const dirent* entry = readdir(dir.get())) {
    std::string_view name = entry->d_name;
    if (name != "." && name != "..") found(name);
  }
}

constexpr uid_t kNoOwner = static_cast<uid_t>(-1);

// The owner of the entry `name` of `folder` itself (a link is not followed); kNoOwner when
// there is none.
uid_t OwnerOf(int folder, const std::string& name) {
  struct stat st;
  return fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? st.st_uid : kNoOwner;
}

// True when a file of `owner` is the user's own: any other user may have planted it. To root,
// the files of `also` (the owner of the file it was left for) count as its own too.
bool Mine(uid_t owner, uid_t also = kNoOwner) {
  uid_t me = geteuid();
  return owner != kNoOwner && (owner == me || (me == 0 && owner == also));
}

// True when the regular file `companion` of `folder` holds exactly `path` and a line end.
bool Records(int folder, const std::string& companion, const std::string& path) {
  // Non-blocking: a FIFO by that name must not stop the editor.
  Fd fd(openat(folder, companion.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (!fd.valid() || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::string text;
  // One byte more than the record: a longer file records another path.
  return ReadUpTo(fd.get(), path.size() + 2, text) == 0 && text.size() == path.size() + 1 &&
         text.starts_with(path) && text.back() == '\n';
}

struct Leftover {
  std::string absolute;
  std::string shown;
};

}  // namespace

std::vector<std::string> FindLeftovers(const char* name) {
  Resolved target;
  if (!ResolveLinks(name, target).ok() || target.absolute.empty()) return {};
  std::string base = LastPart(target.path);
  if (base.empty() || base == "." || base == "..") return {};  // a folder: no save's target
  const std::string& file = target.absolute;
  const std::string folder = FolderOf(file);
  const uid_t owner = OwnerOf(target.folder.get(), base);

  std::vector<Leftover> found;
  // Beside the file: named after the way `name` went there when that way holds no link.
  std::string by_name = FolderOf(name);
  bool direct = !target.through_link;
  ForEachEntry(target.folder.get(), [&](std::string_view entry) {
    if (IsBackupOf(entry, base) || IsTempOf(entry, base)) {
      std::string absolute = JoinPath(folder, entry);
      if (!Mine(OwnerOf(target.folder.get(), std::string(entry)), owner)) return;
      found.push_back({absolute, direct ? by_name + std::string(entry) : absolute});
    }
  });
  // In the state folder: what the companion file says.
  if (std::string state = BackupFolder(); !state.empty()) {
    Fd backups(open(state.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    ForEachEntry(backups.get(), [&](std::string_view entry) {
      EntryName companion;
      if (IsBackup(entry) && Mine(OwnerOf(backups.get(), std::string(entry)), owner) &&
          Records(backups.get(), std::string(companion, CompanionName(entry, companion)), file)) {
        std::string path = JoinPath(state, entry);
        found.push_back({path, path});
      }
    });
  }
  // Stable, and beside the file first: a state folder that is the file's own folder names
  // each backup once, the shorter way.
  std::stable_sort(found.begin(), found.end(),
                   [](const Leftover& a, const Leftover& b) { return a.absolute < b.absolute; });
  std::vector<std::string> shown;
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (i > 0 && found[i].absolute == found[i - 1].absolute) continue;
    shown.push_back(std::move(found[i].shown));
  }
  return shown;
}

std::vector<std::string> FindRecoveryFiles(const char* base) {
  std::vector<std::string> found;
  for (int k = 0; k < kRecoveryNames; ++k) {
    EntryName entry;
    std::string name(entry, RecoveryName(base, k, entry));
    if (OwnerOf(AT_FDCWD, name) != kNoOwner) {
      found.push_back(std::move(name));
    } else if (errno == EACCES) {
      return found;  // the folder cannot be searched
    }
  }
  // Then the hidden files of recoveries cut short before they were named.
  std::vector<std::string> hidden;
  ForEachEntry(AT_FDCWD, [&](std::string_view entry) {
    std::string name(entry);
    if (IsHiddenRecoveryOf(entry, base) && Mine(OwnerOf(AT_FDCWD, name))) {
      hidden.push_back(std::move(name));
    }
  });
  std::sort(hidden.begin(), hidden.end());
  found.insert(found.end(), std::make_move_iterator(hidden.begin()),
               std::make_move_iterator(hidden.end()));
  return found;
}
