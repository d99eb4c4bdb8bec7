// How a save writes its target: one table decides, from the target and what the probe found.
#include <linux/fs.h>
#include <sys/stat.h>

#include <cerrno>

#include "doc/save_plan.h"

namespace save_steps {

namespace {

using T = const Target&;
using P = const Probe&;

// Reasons a folder gives for refusing a new file, where the target can be written in place.
bool Refuses(Status status) {
  return status.err == EACCES || status.err == EPERM || status.err == EROFS;
}

// Errors of a new file that cannot be given what the target has.
bool CannotCarry(Status status) {
  return status.err == EPERM || status.err == EOPNOTSUPP || status.err == EACCES;
}

bool Marked(P p, int flag) {
  return p.kept.has_flags && (p.kept.flags & flag) != 0;
}

// A new name in an append-only folder is made only unnamed, then linked.
bool Unnamed(P p) {
  return (p.folder_flags & FS_APPEND_FL) != 0;
}

constexpr int kFolderMarks = FS_APPEND_FL | FS_IMMUTABLE_FL;

using enum Way;
using enum SaveOutcome;

struct Row {
  bool (*matches)(T, P);
  Way way;
  Status Probe::*failed = nullptr;  // kRefused: the step whose error it gives (else EPERM)
  SaveOutcome refusal = kFailed;    // kRefused: what the save says
  bool backup_in_state = false;     // kInPlace: the folder cannot take the backup
};

// In order: the first row that matches decides.
// clang-format off
constexpr Row kWays[] = {
    // No file there: a new one is named, but in an immutable folder, or in an append-only one
    // that cannot have it whole (no unnamed files there).
    {[](T t, P p) { return !t.exists && (p.folder_flags & FS_IMMUTABLE_FL) != 0; }, kRefused,
     nullptr, kFolderImmutable},
    {[](T t, P p) { return !t.exists && p.create.ok(); }, kByRename},
    {[](T t, P p) { return !t.exists && Unnamed(p) && p.create.err == EOPNOTSUPP; }, kRefused,
     nullptr, kFolderAppendOnly},
    {[](T t, P) { return !t.exists; }, kRefused, &Probe::create},
    {[](T t, P) { return !S_ISREG(t.info.st_mode); }, kStraight},  // a device or a FIFO
    {[](T, P p) { return !p.read.ok(); }, kRefused, &Probe::read},
    {[](T, P p) { return Marked(p, FS_IMMUTABLE_FL); }, kRefused, nullptr, kImmutable},
    {[](T, P p) { return Marked(p, FS_APPEND_FL); }, kRefused, nullptr, kAppendOnly},
    {[](T, P p) { return p.kept.write_refused; }, kRefused},
    // Other names would keep the old content; a marked folder, or one that refuses a new file
    // (EACCES, EPERM, EROFS), cannot have it renamed in.
    {[](T t, P) { return t.info.st_nlink > 1; }, kInPlace},
    {[](T, P p) { return (p.folder_flags & kFolderMarks) != 0; }, kInPlace, nullptr, kFailed, true},
    {[](T, P p) { return Refuses(p.create); }, kInPlace},
    {[](T, P p) { return !p.create.ok(); }, kRefused, &Probe::create},  // no space, no inodes...
    // The new file cannot be given what the target has.
    {[](T, P p) { return !p.flags.ok(); }, kInPlace},
    {[](T, P p) { return !p.owner.ok(); }, kInPlace},
    {[](T, P p) { return CannotCarry(p.attributes); }, kInPlace},
    {[](T, P p) { return !p.attributes.ok(); }, kRefused, &Probe::attributes},
    {[](T, P) { return true; }, kByRename},
};
// clang-format on

const Row& FirstRow(T target, P probe) {
  for (const Row& row : kWays) {
    if (row.matches(target, probe)) return row;
  }
  return kWays[std::size(kWays) - 1];  // never: the last row matches all
}

}  // namespace

Chosen ChooseWay(const Target& target, const Probe& probe) {
  const Row& row = FirstRow(target, probe);
  Chosen chosen{row.way, row.refusal};
  if (row.way == kRefused) chosen.err = row.failed != nullptr ? (probe.*row.failed).err : EPERM;
  // A backup cannot be removed from a folder marked append-only, nor made in an immutable one.
  if (row.backup_in_state) chosen.no_backup_beside = EPERM;
  return chosen;
}

bool NeedsNewFile(const Target& target, const Probe& probe) {
  return !probe.Tried() && FirstRow(target, probe).way == Way::kByRename;
}

}  // namespace save_steps
