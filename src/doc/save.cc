#include "doc/save.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/bytes.h"
#include "core/fd.h"
#include "doc/save_steps.h"

std::size_t ImageSize(const Document& doc) {
  std::size_t size = 0;
  int last = DocLength(doc);
  for (int i = 0; i <= last; ++i) size += doc.text(i).size() + 1;
  return size;
}

namespace {

// Hands the written form of `doc` to `sink`: runs of loaded lines as they lie, other lines
// gathered in `buffer` (kGatherRoom bytes) first. Allocates nothing.
Status GatherLines(const Document& doc, const Edition& edition, char* buffer,
                   const Pieces::Sink& sink) {
  // Pieces at least this long go to the file as they lie; shorter ones are gathered first.
  constexpr std::size_t kGather = kGatherRoom;
  std::size_t used = 0;
  auto flush = [&] { return used == 0 ? Status() : sink({buffer, std::exchange(used, 0)}); };
  // Gathers short bytes; sends long ones (and what was gathered before them) as they are.
  auto put = [&](std::string_view bytes) -> Status {
    if (bytes.size() >= kGather || used + bytes.size() > kGather) {
      if (Status flushed = flush(); !flushed.ok()) return flushed;
    }
    if (bytes.size() >= kGather) return sink(bytes);
    if (!bytes.empty()) std::memcpy(buffer + used, bytes.data(), bytes.size());
    used += bytes.size();
    return 0;
  };
  int last = DocLength(doc);
  for (int i = 0; i <= last;) {
    edition.Check();
    int next = i;
    LineView run = doc.LoadedRun(i, last, next);
    Status put_run;
    if (!run.empty()) {
      put_run = put(run.view());
      i = next;
    } else {
      put_run = put(doc.text(i).view());
      if (put_run.ok()) put_run = put("\n");
      ++i;
    }
    if (!put_run.ok()) return put_run;
  }
  return flush();
}

}  // namespace

Pieces DocumentPieces(const Document& doc, char* room, char* spare) {
  // The size is the document's as it is now: pieces kept across a change are caught, in builds
  // with assertions, wherever they are gone through.
  auto each = [&doc, room, spare, edition = doc.edition()](const Pieces::Sink& sink) -> Status {
    edition.Check();
    Bytes had(room == nullptr ? static_cast<char*>(std::malloc(kGatherRoom)) : nullptr);
    char* buffer = room != nullptr ? room : had != nullptr ? had.get() : spare;
    if (buffer == nullptr) return ENOMEM;
    return GatherLines(doc, edition, buffer, sink);
  };
  return Pieces(ImageSize(doc), each, spare);
}

// ---------------------------------------------------------------------------------------------
// The file write
//
// The target is found once. Its path is walked one component at a time from each folder's
// descriptor (opened for the path alone, never following a link by itself); every symbolic
// link on the way is read and followed here, and each is checked as the kernel's protection
// for shared sticky folders would, whatever the kernel's setting. From then on the save works
// on descriptors: the folder's, for every entry it makes, links, renames or removes, and the
// target's own, opened without following a link and compared with what the walk found. No name
// is looked up twice to decide where bytes go: a target whose kind or identity changed in
// between fails the save (SaveOutcome::kTargetChanged) before a byte reaches it.
//
// The safe way replaces the target in one step: the new content goes to a temporary file in
// the target's folder, is given the target's owner, group, extended attributes (its ACLs and
// security labels among them; those the new file got from its folder go) and mode, is flushed
// to disk, and then takes the target's place, so that at every moment the target holds either
// its old or its new content. The temporary file has no name until it is complete (where the
// system allows), so a crash leaves nothing behind. Where the file system can, the new file is
// exchanged with the target, and what came out must be the file that was checked (else it is
// exchanged back and the save fails); it is then removed. A crash in between leaves the old
// content under the temporary name, which the next load announces. Elsewhere the new file is
// renamed over the target right after the last check. A rename cannot be used where it would
// change something besides the content, and the file is then written in place (several hard
// links, a folder that refuses a new file or is marked append-only, an owner, attribute or
// inode flag the new file cannot be given); devices and FIFOs are written as they stand, and a
// file marked immutable or append-only not at all. ChooseWay (doc/save_way.cc) holds that
// table; it is asked again after each trial step on the new, still empty file.
// The attributes and flags are read through a descriptor of the target opened for writing (the
// walk's cannot read them); `security.capability` is never carried over, since the kernel drops
// it on any write, and an ordinary user does not see `trusted.*` attributes, which a rename then
// loses. Any other reason a temporary file cannot be made (no space, no inodes, a quota, too
// many open files, a name too long) fails the save before anything is written.
//
// An in-place write of a regular file first copies the old content to a backup, flushed to
// disk with its folder entry before the target is touched, so that a crash at any moment
// leaves the old content whole in the target or in the backup:
//
//   target  old ---------------------- old|new... ---- new ---------- new
//   backup  (none) -- copy, flush, name -- old ------------ old -- removed
//
// A write that fails puts the old content back from the backup and removes it; only when even
// that fails is the backup kept, and its name reported. A backup in the state folder has a
// companion that records the target's absolute path, written before the backup is named.
//
// Devices and FIFOs are written as they stand; there a handled signal abandons the write
// (a reader that never reads would otherwise hold the editor), while every other save
// finishes first and the signal is acted on afterwards.
// ---------------------------------------------------------------------------------------------

using namespace save_steps;

namespace {

// ---------------------------------------------------------------------------------------------
// The three ways of writing

// A device or FIFO being written: what its steps share.
struct Straight {
  Target& target;
  const Pieces& bytes;
  const std::string shown;  // the target's path
  Fd fd = {};

  const std::string& Where(FsStep) const { return shown; }
};

// Once open, the bytes go to the device as they stand, and it is closed whatever the write gave.
constexpr StepRow<Straight> kStraightSteps[] = {
    {FsStep::kWrite,
     [](Straight& s, OnEintr rule) {
       Status written = WritePieces(s.fd.get(), s.bytes, -1, rule);
       if (written.ok()) (void)fstat(s.fd.get(), &s.target.info);  // the stamp only
       return written;
     },
     OnEintr::kGiveUp},
    {FsStep::kClose, [](Straight& s, OnEintr) { return Close(s.fd); }, OnEintr::kOnce,
     Runs::kAlways},
};

// Devices and FIFOs have no old content to keep: the bytes are written to them as they stand.
// The open does not wait (a FIFO nobody reads fails at once), and neither do the writes: a
// handled signal abandons the wait for a slow reader.
SaveResult WriteToDevice(Target& target, const Pieces& bytes, const FileSystem& fs) {
  Straight s{target, bytes, target.Shown()};
  struct stat now;
  SaveResult opened = Step(fs, FsStep::kOpenTarget, s.shown,
                           [&] { return OpenChecked(target, O_WRONLY | O_NONBLOCK, s.fd, now); });
  if (!opened.saved()) return opened;
  return Failed(RunSteps(fs, kStraightSteps, s));
}

// Gives the complete temporary file `from` the name of a target that did not exist, never over
// an entry made there since.
SaveResult PutNew(const Target& target, const std::string& from) {
  Status renamed = RenameNoReplace(target.folder.fd.get(), from.c_str(), target.name.c_str());
  return renamed.err == EEXIST ? Changed() : Failed(renamed);
}

// An exchange of the new file with the target under way: what its steps share.
struct Exchanging {
  const Target& target;
  const std::string from;  // the new file's name, the old one's once exchanged
  // The target's path and the temporary name's, made before the exchange: from the exchange on
  // nothing may ask for memory, lest the save fail with its new content in place.
  const std::string shown;
  const std::string old;
  bool exchanged = false;
  Status looked = {};    // the look at what came out
  bool checked = false;  // what came out is the file that was checked

  int dir() const { return target.folder.fd.get(); }
  const std::string& Where(FsStep step) const { return step == FsStep::kRemoveOld ? old : shown; }
  Status Exchange(OnEintr rule) const {
    return Sys(rule, [&] {
      return renameat2(dir(), from.c_str(), dir(), target.name.c_str(), RENAME_EXCHANGE);
    });
  }
};

// The exchange leaves the old file under the temporary name: when it is the one that was
// checked, it is removed; otherwise it goes back.
constexpr StepRow<Exchanging> kExchangeSteps[] = {
    {FsStep::kExchange,
     [](Exchanging& e, OnEintr rule) {
       Status exchanged = e.Exchange(rule);
       if (!exchanged.ok()) return exchanged;
       e.exchanged = true;
       struct stat out;
       e.looked =
           Sys(rule, [&] { return fstatat(e.dir(), e.from.c_str(), &out, AT_SYMLINK_NOFOLLOW); });
       e.checked = e.looked.ok() && SameFile(out, e.target.info);
       return Status();
     }},
    {FsStep::kExchangeBack, [](Exchanging& e, OnEintr rule) { return e.Exchange(rule); },
     OnEintr::kRetry, Runs::kWhileAllWorked, false, [](const Exchanging& e) { return !e.checked; }},
    {FsStep::kRemoveOld,
     [](Exchanging& e, OnEintr rule) {
       return Sys(rule, [&] { return unlinkat(e.dir(), e.from.c_str(), 0); });
     },
     OnEintr::kRetry, Runs::kWhileAllWorked, false, [](const Exchanging& e) { return e.checked; }},
};

// Puts the complete temporary file `temp` in the target's place: over the target, when it is
// still what the walk found, or under a name that nothing may have taken since. An exchange
// leaves the old file under the temporary name, where it is checked (and exchanged back when it
// is not the target) and then removed; one that cannot be removed, or what came out when it
// cannot go back, stays under that name, which is said.
SaveResult PutInPlace(const Target& target, NewFile& temp, const FileSystem& fs) {
  if (!target.exists) return PutNew(target, temp.name);
  int dir = target.folder.fd.get();
  const char* name = target.name.c_str();
  Exchanging e{target, temp.name, target.Shown(), target.folder.Path(temp.name)};
  // Once exchanged, the failure is that of the exchange back or of the removal.
  Status done = RunSteps(fs, kExchangeSteps, e);
  if (!e.exchanged) {
    int err = done.err;
    if (err != EINVAL && err != ENOSYS && err != EOPNOTSUPP) return Failed(done);
    // No exchange on this file system: a rename, right after a last check.
    struct stat now;
    if (RetryOnEintr([&] { return fstatat(dir, name, &now, AT_SYMLINK_NOFOLLOW); }) != 0) {
      return errno == ENOENT ? Changed() : Failed(errno);
    }
    if (!SameFile(now, target.info)) return Changed();
    return Failed(Errno(RetryOnEintr([&] { return renameat(dir, temp.name.c_str(), dir, name); })));
  }
  SaveResult result;
  if (!e.checked) {
    result = e.looked.ok() || e.looked.err == ENOENT ? Changed() : Failed(e.looked);
    if (done.ok()) return result;
    result = Failed(done);  // what came out stays under the temporary name, which is said
  }
  result.err = done.err;
  if (!done.ok()) result.kept = e.old;
  temp.name.clear();
  return result;
}

SaveResult WriteOtherWay(Target& target, const Pieces& bytes, const FileSystem& fs, Chosen way);

// A save by rename under way: what its steps share.
struct Renaming {
  Target& target;
  const Pieces& bytes;
  const Kept& kept;
  const FileSystem& fs;
  NewFile temp = {};
  SaveResult put = {};  // what putting the new file in the target's place gave

  int fd() const { return temp.fd.get(); }
};

// What the seam is told a step acts on.
enum class Acts { kOnTemp, kOnTarget, kOnFolder };

// What a step's failure does to the save.
enum class OnFailure {
  kStop,       // the save fails, and the new file goes
  kChooseWay,  // a trial: its result goes to the trials, and ChooseWay says whether a rename
               // still serves (else the new file goes and the target is written another way)
  kTolerated,  // the new content is in place already: the save stands
};

struct RenameStep {
  FsStep step;
  Status (*act)(Renaming&, OnEintr);
  OnEintr eintr;
  Acts acts;
  OnFailure on_failure;
  Status Trials::*trial = nullptr;  // kChooseWay: where its result goes
  bool existing_only = false;       // a new name skips it
};

// Gives the new file the owner and group of the target.
Status GiveOwner(Renaming& r, OnEintr rule) {
  struct stat st;
  if (fstat(r.fd(), &st) != 0) return errno;
  const struct stat& old = r.target.info;
  if (st.st_uid == old.st_uid && st.st_gid == old.st_gid) return 0;
  return Sys(rule, [&] { return fchown(r.fd(), old.st_uid, old.st_gid); });
}

// Puts the complete new file in the target's place; the file written is then the target's
// state, taken through the new file's descriptor after the exchange or rename moved it.
Status Put(Renaming& r, OnEintr) {
  r.put = PutInPlace(r.target, r.temp, r.fs);
  if (!r.put.saved()) return r.put.err != 0 ? r.put.err : ESTALE;  // said by `put`
  r.temp.name.clear();  // it is the target now
  if (fstat(r.fd(), &r.target.info) == 0) r.target.exists = true;
  return 0;
}

// Removes the named temporary file `temp` when an exception (memory refused) leaves the save;
// an unnamed one goes with its descriptor. Allocates nothing.
struct RemovedOnThrow {
  const Folder& folder;
  NewFile& temp;
  int exceptions = std::uncaught_exceptions();

  ~RemovedOnThrow() {
    if (std::uncaught_exceptions() > exceptions && !temp.name.empty()) {
      unlinkat(folder.fd.get(), temp.name.c_str(), 0);
    }
  }
};

// The steps of a save by rename, in order. The trials come first, while the new file is empty;
// its mode comes after the owner, the attributes and the bytes (a change of owner and a write by
// a user who is not root clear the set-id bits, and an ACL sets the group's), and a new name keeps
// the mode it was made with (the umask, or the folder's default ACL: what any new file gets).
// The new file is a regular file: its write finishes before a signal is acted on.
constexpr RenameStep kRenameSteps[] = {
    {FsStep::kCreateTemp,
     [](Renaming& r, OnEintr) {
       return CreateIn(r.target.folder, r.temp, r.target.exists ? 0600 : 0666);
     },
     OnEintr::kRetry, Acts::kOnTemp, OnFailure::kChooseWay, &Trials::create},
    {FsStep::kMatchFlags, [](Renaming& r, OnEintr) { return MatchFlags(r.fd(), r.kept); },
     OnEintr::kRetry, Acts::kOnTemp, OnFailure::kChooseWay, &Trials::flags, true},
    {FsStep::kMatchOwner, GiveOwner, OnEintr::kRetry, Acts::kOnTemp, OnFailure::kChooseWay,
     &Trials::owner, true},
    {FsStep::kMatchAttributes, [](Renaming& r, OnEintr) { return MatchAttributes(r.fd(), r.kept); },
     OnEintr::kRetry, Acts::kOnTemp, OnFailure::kChooseWay, &Trials::attributes, true},
    {FsStep::kWrite,
     [](Renaming& r, OnEintr rule) { return WritePieces(r.fd(), r.bytes, -1, rule); },
     OnEintr::kRetry, Acts::kOnTemp, OnFailure::kStop},
    {FsStep::kMatchMode,
     [](Renaming& r, OnEintr rule) {
       return Sys(rule, [&] { return fchmod(r.fd(), r.target.info.st_mode & 07777); });
     },
     OnEintr::kRetry, Acts::kOnTemp, OnFailure::kStop, nullptr, true},
    {FsStep::kSync, [](Renaming& r, OnEintr) { return Sync(r.fd()); }, OnEintr::kRetry,
     Acts::kOnTemp, OnFailure::kStop},
    {FsStep::kNameTemp, [](Renaming& r, OnEintr) { return Name(r.target.folder, r.temp); },
     OnEintr::kRetry, Acts::kOnTemp, OnFailure::kStop},
    {FsStep::kRename, Put, OnEintr::kRetry, Acts::kOnTarget, OnFailure::kStop},
    // Flushed already: a close that fails takes nothing from the new content.
    {FsStep::kClose, [](Renaming& r, OnEintr) { return Close(r.temp.fd); }, OnEintr::kOnce,
     Acts::kOnTarget, OnFailure::kTolerated},
    {FsStep::kSyncFolder, [](Renaming& r, OnEintr) { return SyncFolder(r.target.folder); },
     OnEintr::kRetry, Acts::kOnFolder, OnFailure::kTolerated},
};

// A regular file (or a new name) replaced through a temporary file, step by step as the table
// says. Where a trial says so, the target is written another way instead.
SaveResult WriteByRename(Target& target, const Pieces& bytes, const FileSystem& fs,
                         const Kept& kept, Trials& trials) {
  Renaming r{target, bytes, kept, fs};
  EntryName entry;
  r.temp.pattern.assign(entry, TempPattern(target.name, entry));
  RemovedOnThrow removed{target.folder, r.temp};
  for (const RenameStep& row : kRenameSteps) {
    if (row.existing_only && !target.exists) continue;
    Status done;
    try {
      std::string where = row.acts == Acts::kOnTemp     ? target.folder.Path(r.temp.Entry())
                          : row.acts == Acts::kOnTarget ? target.Shown()
                                                        : target.folder.Openable();
      done = RunStep(fs, row, r, where);
    } catch (const std::bad_alloc&) {
      // Once the new content is in place, memory refused takes nothing from the save.
      if (row.on_failure != OnFailure::kTolerated) throw;
    }
    if (row.on_failure == OnFailure::kTolerated || (done.ok() && !row.trial)) continue;
    Chosen way{Way::kByRename, WayReason::kReplace};
    if (row.trial != nullptr) {
      trials.*row.trial = done;
      if (way = ChooseWay(target, trials); way.way == Way::kByRename) continue;
    }
    // A temporary file that cannot be removed is among the leftovers that a later load names.
    (void)Discard(target.folder, r.temp, FsStep::kRemoveTemp, fs);
    if (way.way != Way::kByRename) return WriteOtherWay(target, bytes, fs, way);
    return r.put.saved() ? Failed(done) : r.put;
  }
  return r.put;
}

SaveResult WriteOtherWay(Target& target, const Pieces& bytes, const FileSystem& fs, Chosen way) {
  switch (way.way) {
    case Way::kInPlace:
      return WriteKeepingOld(target, bytes, fs);
    case Way::kStraight:
      return WriteToDevice(target, bytes, fs);
    case Way::kRefused:
      if (way.reason == WayReason::kImmutable) return {SaveOutcome::kImmutable, EPERM, {}};
      if (way.reason == WayReason::kAppendOnly) return {SaveOutcome::kAppendOnly, EPERM, {}};
      return Failed(way.err);
    case Way::kByRename:
      break;
  }
  return Failed(EINVAL);  // never: a rename is WriteByRename's
}

// The save of a found target, as WriteFileSafely says, where memory refused may throw.
SaveResult WriteTarget(Target& target, const Pieces& bytes, const FileSystem& fs) {
  Kept kept;
  Trials trials;
  if (target.exists && S_ISREG(target.info.st_mode)) {
    SaveResult read = Step(fs, FsStep::kReadAttributes, target.Shown(),
                           [&] { return ReadKept(target, kept); });
    if (read.outcome == SaveOutcome::kTargetChanged) return read;
    trials.read = read.err;
    trials.kept = &kept;
    trials.folder_flags = FolderFlags(target.folder.fd.get());
  }
  Chosen way = ChooseWay(target, trials);
  if (way.way == Way::kByRename) return WriteByRename(target, bytes, fs, kept, trials);
  return WriteOtherWay(target, bytes, fs, way);
}

}  // namespace

SaveResult WriteFileSafely(Target& target, const Pieces& bytes, const FileSystem& fs) {
  try {
    return WriteTarget(target, bytes, fs);
  } catch (const std::bad_alloc&) {
    // Memory refused on the way: the temporary file went as the save unwound (RemovedOnThrow),
    // and the target was not replaced.
    return Failed(ENOMEM);
  }
}

std::vector<FsStep> SaveSteps(bool in_place) {
  if (in_place) return InPlaceSteps();
  std::vector<FsStep> steps = {FsStep::kReadAttributes};
  for (const RenameStep& row : kRenameSteps) {
    steps.push_back(row.step);
    if (row.step != FsStep::kRename) continue;
    for (const auto& exchange : kExchangeSteps) steps.push_back(exchange.step);
  }
  return steps;
}

SaveResult WriteFileSafely(const char* path, const Pieces& bytes, const FileSystem& fs) {
  Target target;
  try {
    if (Status found = Resolve(path, target); !found.ok()) return Failed(found);
  } catch (const std::bad_alloc&) {
    return Failed(ENOMEM);
  }
  return WriteFileSafely(target, bytes, fs);
}
