#include "doc/leftovers.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>
#include <string_view>

#include "core/fd.h"
#include "core/path.h"
#include "doc/save.h"

namespace {

// What follows a save's files' stems (doc/save.h): a mark, then six random letters or digits.
constexpr std::string_view kBackupMark = kBackupMarker;
constexpr std::string_view kTempMark = kTempMarker;
constexpr std::size_t kRandom = 6;
// Longest name of one folder entry: a save cuts the stem to fit.
constexpr std::size_t kMaxName = NAME_MAX;
// Recovery files are numbered up to .99.
constexpr int kRecoveryNames = 100;

bool IsRandom(std::string_view part) {
  return part.size() == kRandom && std::all_of(part.begin(), part.end(), [](char c) {
           return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
         });
}

// True when `entry` is `stem`, cut so that the whole fits in one folder entry, then `mark` and
// six random characters.
bool Named(std::string_view entry, std::string_view stem, std::string_view mark) {
  stem = stem.substr(0, kMaxName - mark.size() - kRandom);
  return entry.size() == stem.size() + mark.size() + kRandom && entry.starts_with(stem) &&
         entry.substr(stem.size(), mark.size()) == mark &&
         IsRandom(entry.substr(stem.size() + mark.size()));
}

// A backup's name, whatever file it was made for.
bool IsBackup(std::string_view entry) {
  std::size_t end = kBackupMark.size() + kRandom;
  return entry.size() > end &&
         entry.substr(entry.size() - end, kBackupMark.size()) == kBackupMark &&
         IsRandom(entry.substr(entry.size() - kRandom));
}

// Calls `found(entry)` for every entry of `folder` but "." and "..". Nothing when it cannot be
// listed.
template <typename Found>
void ForEachEntry(const std::string& folder, Found found) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), &closedir);
  if (dir == nullptr) return;
  while (const dirent* entry = readdir(dir.get())) {
    std::string_view name = entry->d_name;
    if (name != "." && name != "..") found(name);
  }
}

constexpr uid_t kNoOwner = static_cast<uid_t>(-1);

// The owner of the entry `path` itself (a link is not followed); kNoOwner when there is none.
uid_t OwnerOf(const std::string& path) {
  struct stat st;
  return fstatat(AT_FDCWD, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? st.st_uid : kNoOwner;
}

// True when a file of `owner` is the user's own: any other user may have planted it. To root,
// the files of `also` (the owner of the file it was left for) count as its own too.
bool Mine(uid_t owner, uid_t also = kNoOwner) {
  uid_t me = geteuid();
  return owner != kNoOwner && (owner == me || (me == 0 && owner == also));
}

// True when the regular file `companion` holds exactly `path` and a line end.
bool Records(const std::string& companion, const std::string& path) {
  // Non-blocking: a FIFO by that name must not stop the editor.
  Fd fd(open(companion.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
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
  const uid_t owner = OwnerOf(file);

  std::vector<Leftover> found;
  // Beside the file: named after the way `name` went there when that way holds no link.
  std::string by_name = FolderOf(name);
  bool direct = !target.through_link;
  ForEachEntry(folder, [&](std::string_view entry) {
    if (Named(entry, base, kBackupMark) || Named(entry, "." + base, kTempMark)) {
      std::string absolute = JoinPath(folder, entry);
      if (!Mine(OwnerOf(absolute), owner)) return;
      found.push_back({absolute, direct ? by_name + std::string(entry) : absolute});
    }
  });
  // In the state folder: what the companion file says.
  if (std::string state = BackupFolder(); !state.empty()) {
    ForEachEntry(state, [&](std::string_view entry) {
      std::string absolute = JoinPath(state, entry);
      if (IsBackup(entry) && Mine(OwnerOf(absolute), owner) &&
          Records(absolute + kBackupPathSuffix, file)) {
        found.push_back({absolute, absolute});
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
    std::string name = k == 0 ? std::string(base) : std::string(base) + "." + std::to_string(k);
    struct stat st;
    if (fstatat(AT_FDCWD, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      found.push_back(std::move(name));
    } else if (errno == EACCES) {
      return found;  // the folder cannot be searched
    }
  }
  // Then the hidden files of recoveries cut short before they were named.
  std::vector<std::string> hidden;
  std::string stem = std::string(".") + base;
  ForEachEntry(".", [&](std::string_view entry) {
    std::string name(entry);
    if (Named(entry, stem, "-") && Mine(OwnerOf(name))) hidden.push_back(std::move(name));
  });
  std::sort(hidden.begin(), hidden.end());
  found.insert(found.end(), std::make_move_iterator(hidden.begin()),
               std::make_move_iterator(hidden.end()));
  return found;
}
