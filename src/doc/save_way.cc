// How a save writes its target: by a new file that takes its place, in place behind a backup,
// or as it stands. One table decides, from the target and what the trial steps found.
#include <linux/fs.h>
#include <sys/stat.h>

#include <cerrno>

#include "doc/save.h"
#include "doc/save_steps.h"

namespace save_steps {

namespace {

// Reasons a folder gives for refusing a new file, where the target can still be written in
// place.
bool Refuses(Status status) {
  return status.err == EACCES || status.err == EPERM || status.err == EROFS;
}

// Errors of a new file that cannot be given what the target has, where the target can still
// be written in place.
bool CannotCarry(Status status) {
  return status.err == EPERM || status.err == EOPNOTSUPP || status.err == EACCES;
}

bool Marked(const Trials& trials, int flag) {
  return trials.kept != nullptr && trials.kept->has_flags && (trials.kept->flags & flag) != 0;
}

struct Row {
  bool (*matches)(const Target& target, const Trials& trials);
  Way way;
  WayReason reason;
  Status Trials::*failed = nullptr;  // the trial whose error a refusal gives
};

// In order: the first row that matches decides.
constexpr Row kWays[] = {
    {[](const Target& t, const Trials& r) { return !t.exists && r.create.ok(); }, Way::kByRename,
     WayReason::kNoFile},
    {[](const Target& t, const Trials&) { return !t.exists; }, Way::kRefused,
     WayReason::kCannotCreate, &Trials::create},
    {[](const Target& t, const Trials&) { return !S_ISREG(t.info.st_mode); }, Way::kStraight,
     WayReason::kNotRegular},
    {[](const Target&, const Trials& r) { return !r.read.ok(); }, Way::kRefused,
     WayReason::kUnreadable, &Trials::read},
    {[](const Target&, const Trials& r) { return Marked(r, FS_IMMUTABLE_FL); }, Way::kRefused,
     WayReason::kImmutable},
    {[](const Target&, const Trials& r) { return Marked(r, FS_APPEND_FL); }, Way::kRefused,
     WayReason::kAppendOnly},
    {[](const Target&, const Trials& r) { return r.kept != nullptr && r.kept->write_refused; },
     Way::kRefused, WayReason::kWriteRefused},
    {[](const Target& t, const Trials&) { return t.info.st_nlink > 1; }, Way::kInPlace,
     WayReason::kHardLinks},
    {[](const Target&, const Trials& r) {
       return (r.folder_flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0;
     },
     Way::kInPlace, WayReason::kFolderMarked},
    {[](const Target&, const Trials& r) { return Refuses(r.create); }, Way::kInPlace,
     WayReason::kFolderRefuses},
    {[](const Target&, const Trials& r) { return !r.create.ok(); }, Way::kRefused,
     WayReason::kCannotCreate, &Trials::create},
    {[](const Target&, const Trials& r) { return !r.flags.ok(); }, Way::kInPlace,
     WayReason::kFlags},
    {[](const Target&, const Trials& r) { return !r.owner.ok(); }, Way::kInPlace,
     WayReason::kOwner},
    {[](const Target&, const Trials& r) { return CannotCarry(r.attributes); }, Way::kInPlace,
     WayReason::kAttributes},
    {[](const Target&, const Trials& r) { return !r.attributes.ok(); }, Way::kRefused,
     WayReason::kAttributeFailed, &Trials::attributes},
    {[](const Target&, const Trials&) { return true; }, Way::kByRename, WayReason::kReplace},
};

}  // namespace

Chosen ChooseWay(const Target& target, const Trials& trials) {
  for (const Row& row : kWays) {
    if (!row.matches(target, trials)) continue;
    Chosen chosen{row.way, row.reason};
    if (row.failed != nullptr) chosen.err = (trials.*row.failed).err;
    if (row.reason == WayReason::kWriteRefused) chosen.err = EPERM;
    return chosen;
  }
  return {Way::kByRename, WayReason::kReplace};  // the last row matches all
}

}  // namespace save_steps
