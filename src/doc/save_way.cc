// How a save writes its target: by a new file that takes its place, in place behind a backup,
// or as it stands. One table decides, from the target and what the probe found.
#include "doc/save_way.h"

#include <linux/fs.h>
#include <sys/stat.h>

#include <cerrno>

namespace save_steps {

namespace {

using T = const Target&;
using P = const Probe&;

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

bool Marked(P p, int flag) {
  return p.kept_read && p.kept.has_flags && (p.kept.flags & flag) != 0;
}

constexpr int kFolderMarks = FS_APPEND_FL | FS_IMMUTABLE_FL;

struct Row {
  bool (*matches)(T, P);
  Way way;
  WayReason reason;
  Status Probe::*failed = nullptr;             // the step whose error a refusal gives
  bool backup_in_state = false;                // in place: the folder cannot take the backup
  SaveOutcome refusal = SaveOutcome::kFailed;  // a refusal for the marks (with EPERM)
};

// In order: the first row that matches decides.
constexpr Row kWays[] = {
    {[](T t, P p) { return !t.exists && (p.folder_flags & FS_IMMUTABLE_FL) != 0; }, Way::kRefused,
     WayReason::kFolderImmutable, nullptr, false, SaveOutcome::kFolderImmutable},
    {[](T t, P p) { return !t.exists && p.create.ok(); }, Way::kByRename, WayReason::kNoFile},
    {[](T t, P p) { return !t.exists && (p.folder_flags & FS_APPEND_FL) && !p.create.ok(); },
     Way::kRefused, WayReason::kFolderAppendOnly, nullptr, false, SaveOutcome::kFolderAppendOnly},
    {[](T t, P) { return !t.exists; }, Way::kRefused, WayReason::kCannotCreate, &Probe::create},
    {[](T t, P) { return !S_ISREG(t.info.st_mode); }, Way::kStraight, WayReason::kNotRegular},
    {[](T, P p) { return !p.read.ok(); }, Way::kRefused, WayReason::kUnreadable, &Probe::read},
    {[](T, P p) { return Marked(p, FS_IMMUTABLE_FL); }, Way::kRefused, WayReason::kImmutable,
     nullptr, false, SaveOutcome::kImmutable},
    {[](T, P p) { return Marked(p, FS_APPEND_FL); }, Way::kRefused, WayReason::kAppendOnly, nullptr,
     false, SaveOutcome::kAppendOnly},
    {[](T, P p) { return p.kept.write_refused; }, Way::kRefused, WayReason::kWriteRefused},
    {[](T t, P) { return t.info.st_nlink > 1; }, Way::kInPlace, WayReason::kHardLinks},
    {[](T, P p) { return (p.folder_flags & kFolderMarks) != 0; }, Way::kInPlace,
     WayReason::kFolderMarked, nullptr, true},
    {[](T, P p) { return Refuses(p.create); }, Way::kInPlace, WayReason::kFolderRefuses},
    {[](T, P p) { return !p.create.ok(); }, Way::kRefused, WayReason::kCannotCreate,
     &Probe::create},
    {[](T, P p) { return !p.flags.ok(); }, Way::kInPlace, WayReason::kFlags},
    {[](T, P p) { return !p.owner.ok(); }, Way::kInPlace, WayReason::kOwner},
    {[](T, P p) { return CannotCarry(p.attributes); }, Way::kInPlace, WayReason::kAttributes},
    {[](T, P p) { return !p.attributes.ok(); }, Way::kRefused, WayReason::kAttributeFailed,
     &Probe::attributes},
    {[](T, P) { return true; }, Way::kByRename, WayReason::kReplace},
};

const Row& FirstRow(T target, P probe) {
  for (const Row& row : kWays) {
    if (row.matches(target, probe)) return row;
  }
  return kWays[std::size(kWays) - 1];  // never: the last row matches all
}

}  // namespace

Chosen ChooseWay(const Target& target, const Probe& probe) {
  const Row& row = FirstRow(target, probe);
  Chosen chosen{row.way, row.reason};
  chosen.refusal = row.refusal;
  if (row.failed != nullptr) chosen.err = (probe.*row.failed).err;
  if (row.reason == WayReason::kWriteRefused || row.refusal != SaveOutcome::kFailed) {
    chosen.err = EPERM;
  }
  // A backup cannot be removed from a folder marked append-only, nor made in an immutable one.
  if (row.backup_in_state) chosen.no_backup_beside = EPERM;
  return chosen;
}

bool NeedsNewFile(const Target& target, const Probe& probe) {
  return !probe.Tried() && FirstRow(target, probe).way == Way::kByRename;
}

}  // namespace save_steps
