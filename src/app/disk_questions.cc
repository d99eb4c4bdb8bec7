// The questions a save asks before it writes: what another program did since the file was read,
// a new file through another user's link, a name that is taken.
#include "app/disk_questions.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <string>

#include "app/editor.h"
#include "app/messages.h"
#include "app/reads.h"
#include "core/path.h"
#include "term/caret.h"

namespace {

// The name of the group `gid`, or its number when it has none.
std::string GroupName(gid_t gid) {
  if (const group* found = getgrgid(gid)) return found->gr_name;
  return std::to_string(gid);
}

// The name of the user `uid`, or its number when it has none.
std::string UserName(uid_t uid) {
  if (const passwd* user = getpwuid(uid)) return user->pw_name;
  return std::to_string(uid);
}

}  // namespace

bool AnsweredYes(Editor& ed) {
  char answer[16];
  if (IsYes(ReadAnswer(ed, answer, sizeof answer), answer, "y")) return true;
  Line(ed.io, msg::kNothingSaved);
  return false;
}

bool Confirmed(Editor& ed, const char* question, const char* name, const char* what,
               const char* more) {
  Print(ed.io, question, Shown(ed.io, name).c_str(), Shown(ed.io, what).c_str(),
        Shown(ed.io, more).c_str());
  return AnsweredYes(ed);
}

bool ChangeAccepted(Editor& ed, DiskChange change, const char* name, const Target& target) {
  const uid_t owner = target.info.st_uid;
  switch (change) {
    case DiskChange::kNone:
      return true;
    case DiskChange::kChanged:
      return Confirmed(ed, msg::kChangedOnDisk, name);
    case DiskChange::kOwnerChanged:
      return Confirmed(ed, msg::kOwnerChanged, name,
                       (UserName(owner) + ":" + GroupName(target.info.st_gid)).c_str());
    case DiskChange::kReplaced:
      if (owner == geteuid()) return Confirmed(ed, msg::kReplacedOnDisk, name);
      return Confirmed(ed, msg::kReplacedByOther, name, UserName(owner).c_str());
    case DiskChange::kCreated:
      return Confirmed(ed, msg::kCreatedOnDisk, name);
    case DiskChange::kForeignFolder:
      return Confirmed(ed, msg::kForeignFolder, name,
                       UserName(NewFolderOwner(ed.stamp, target)).c_str());
    case DiskChange::kElsewhere:
      break;
  }
  std::string there = target.Absolute().empty() ? target.Path() : target.Absolute();
  if (!target.link.empty()) {
    return Confirmed(ed, msg::kLeadsElsewhere, name, there.c_str(), target.link.c_str());
  }
  std::string folder = FolderOf(there);
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder.empty()) folder.push_back('.');  // not `= "."`, which GCC 12 -O2 warns of wrongly
  uid_t keeper = target.folder_info.st_uid;
  if (keeper == geteuid()) return Confirmed(ed, msg::kFolderMoved, name, folder.c_str());
  return Confirmed(ed, msg::kFolderMovedToOther, name, folder.c_str(), UserName(keeper).c_str());
}

bool ThroughOthersLink(const Target& target, Status found) {
  return found.ok() && !target.exists && target.link_owner != Target::kNoOwner;
}

bool LinkAccepted(Editor& ed, const char* name, const Target& target, Status found) {
  if (!ThroughOthersLink(target, found)) return true;
  std::string there = target.Absolute().empty() ? target.Path() : target.Absolute();
  return Confirmed(ed, msg::kThroughOthersLink, name, UserName(target.link_owner).c_str(),
                   there.c_str());
}
