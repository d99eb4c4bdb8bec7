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
#include "doc/target.h"

namespace {

// Calls `found(entry)` for every entry but "." and ".." of the folder open at `folder` (or
// AT_FDCWD), listed through a descriptor opened from it, never by its path (it may be too long).
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

// The owner of the entry `name` of `folder` when it is a regular file (a link is not followed);
// Target::kNoOwner when there is none or it is something else.
uid_t OwnerOf(int folder, const std::string& name) {
  struct stat st;
  if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Target::kNoOwner;
  return S_ISREG(st.st_mode) ? st.st_uid : Target::kNoOwner;
}

// True when a file of `owner` is the user's own: any other user may have planted it. To root,
// the files of `also` (the owner of the file it was left for) count as its own too.
bool Mine(uid_t owner, uid_t also = Target::kNoOwner) {
  uid_t me = geteuid();
  return owner != Target::kNoOwner && (owner == me || (me == 0 && owner == also));
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

// The leftovers beside the file `target` (whose owner is `owner`), named after the way `name`
// went there when that way holds no link.
void FindBeside(const char* name, const Target& target, uid_t owner, std::vector<Leftover>& found) {
  const std::string folder = FolderOf(target.place);
  const std::string by_name = FolderOf(name);
  int dir = target.folder.fd.get();
  ForEachEntry(dir, [&](std::string_view entry) {
    if (!IsBackupOf(entry, target.name) && !IsTempOf(entry, target.name)) return;
    if (!Mine(OwnerOf(dir, std::string(entry)), owner)) return;
    std::string absolute = JoinPath(folder, entry);
    found.push_back({absolute, target.through_link ? absolute : by_name + std::string(entry)});
  });
}

// The backups in the state folder whose companion file names `file`.
void FindInStateFolder(const std::string& file, uid_t owner, std::vector<Leftover>& found) {
  std::string state = BackupFolder();
  if (state.empty()) return;
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

}  // namespace

std::vector<std::string> FindLeftovers(const char* name, const Target& target) {
  if (target.unreached || !target.folder.fd.valid() || target.Absolute().empty()) return {};
  const std::string& base = target.name;
  if (base.empty() || base == "." || base == "..") return {};  // a folder: no save's target
  const uid_t owner = target.exists ? target.info.st_uid : Target::kNoOwner;
  std::vector<Leftover> found;
  FindBeside(name, target, owner, found);
  FindInStateFolder(target.place, owner, found);
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
    struct stat st;
    if (fstatat(AT_FDCWD, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      if (S_ISREG(st.st_mode) && Mine(st.st_uid)) found.push_back(std::move(name));
    } else if (errno == EACCES) {
      return found;  // the folder cannot be searched
    }
  }
  // Then the hidden files of recoveries cut short before they were named.
  const std::size_t numbered = found.size();
  ForEachEntry(AT_FDCWD, [&](std::string_view entry) {
    std::string name(entry);
    if (IsHiddenRecoveryOf(entry, base) && Mine(OwnerOf(AT_FDCWD, name))) {
      found.push_back(std::move(name));
    }
  });
  std::sort(found.begin() + static_cast<std::ptrdiff_t>(numbered), found.end());
  return found;
}
