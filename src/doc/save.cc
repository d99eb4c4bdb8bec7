#include "doc/save.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "core/fd.h"
#include "doc/save_steps.h"

std::size_t ImageSize(const Document& doc) {
  std::size_t size = 0;
  int last = DocLength(doc);
  for (int i = 0; i <= last; ++i) size += doc.text(i).size() + 1;
  return size;
}

Pieces DocumentPieces(const Document& doc, char* room) {
  // Pieces at least this long go to the file as they lie; shorter ones are gathered first.
  constexpr std::size_t kGather = kGatherRoom;
  // The size is the document's as it is now: pieces kept across a change are caught, in builds
  // with assertions, wherever they are gone through.
  return Pieces(ImageSize(doc), [&doc, room, edition = doc.edition()](const Pieces::Sink& sink) {
    edition.Check();
    std::unique_ptr<char[]> had(room == nullptr ? new (std::nothrow) char[kGather] : nullptr);
    char* buffer = room != nullptr ? room : had.get();
    if (buffer == nullptr) return ENOMEM;
    std::size_t used = 0;
    auto flush = [&] { return used == 0 ? 0 : sink({buffer, std::exchange(used, 0)}); };
    // Gathers short bytes; sends long ones (and what was gathered before them) as they are.
    auto put = [&](std::string_view bytes) {
      if (bytes.size() >= kGather) {
        if (int err = flush(); err != 0) return err;
        return sink(bytes);
      }
      if (used + bytes.size() > kGather) {
        if (int err = flush(); err != 0) return err;
      }
      if (!bytes.empty()) std::memcpy(buffer + used, bytes.data(), bytes.size());
      used += bytes.size();
      return 0;
    };
    int last = DocLength(doc);
    for (int i = 0; i <= last;) {
      edition.Check();
      int next = i;
      LineView run = doc.LoadedRun(i, last, next);
      int err = 0;
      if (!run.empty()) {
        err = put(run.view());
        i = next;
      } else {
        err = put(doc.text(i).view());
        if (err == 0) err = put("\n");
        ++i;
      }
      if (err != 0) return err;
    }
    return flush();
  });
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
// change something besides the content, and the file is then written in place:
//   - the target has several hard links (the other names would keep the old content);
//   - the target is no regular file (a device, a FIFO);
//   - the folder refuses a new file (permission denied, a read-only filesystem);
//   - the target belongs to another owner or group that the new file cannot be given;
//   - an extended attribute of the target cannot be set on the new file (not permitted, or
//     not supported there).
// The attributes are read through a descriptor of the target opened for writing (the walk's
// cannot list them); `security.capability` is never carried over, since the kernel drops it on
// any write, and an ordinary user does not see `trusted.*` attributes, which a rename then
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

mode_t CurrentUmask() {
  mode_t mask = umask(0);
  umask(mask);
  return mask;
}

// ---------------------------------------------------------------------------------------------
// The three ways of writing

// Devices and FIFOs have no old content to keep: the bytes are written to them as they stand.
// The open does not wait (a FIFO nobody reads fails at once), and neither do the writes: a
// handled signal abandons the wait for a slow reader.
SaveResult WriteToDevice(const Target& target, const Pieces& bytes, const FileSystem& fs) {
  std::string shown = target.Shown();
  Fd fd;
  struct stat now;
  SaveResult opened = Step(fs, FsStep::kOpenTarget, shown,
                           [&] { return OpenChecked(target, O_WRONLY | O_NONBLOCK, fd, now); });
  if (!opened.saved()) return opened;
  int err = Step(fs, FsStep::kWrite, shown,
                 [&] { return WritePieces(fd.get(), bytes, -1, OnSignal::kAbandon); });
  int closed = Step(fs, FsStep::kClose, shown, [&] { return Close(fd); });
  return Failed(err != 0 ? err : closed);
}

// Reasons a folder gives for refusing a new file, where the target can still be written in
// place.
bool Refuses(int err) {
  return err == EACCES || err == EPERM || err == EROFS;
}

// Errors of a new file that cannot be given what the target has, where the target can still
// be written in place.
bool CannotCarry(int err) {
  return err == EPERM || err == EOPNOTSUPP || err == EACCES;
}

// Puts the complete temporary file `temp` in the target's place: over the target, when it is
// still what the walk found, or under a name that nothing may have taken since. An exchange
// leaves the old file under the temporary name, where it is checked and then removed; one that
// cannot be removed is `kept`.
SaveResult PutInPlace(const Target& target, NewFile& temp, const FileSystem& fs) {
  int dir = target.folder.fd.get();
  const char* name = target.name.c_str();
  const std::string from = temp.name;
  if (!target.exists) {
    int err = Errno(
        RetryOnEintr([&] { return renameat2(dir, from.c_str(), dir, name, RENAME_NOREPLACE); }));
    if (err == EINVAL) {
      // No rename that refuses to replace here: a second link, which never replaces.
      err = Errno(RetryOnEintr([&] { return linkat(dir, from.c_str(), dir, name, 0); }));
      if (err == 0) unlinkat(dir, from.c_str(), 0);
    }
    return err == EEXIST ? Changed() : Failed(err);
  }
  struct stat now;
  if (RetryOnEintr([&] { return fstatat(dir, name, &now, AT_SYMLINK_NOFOLLOW); }) != 0) {
    return errno == ENOENT ? Changed() : Failed(errno);
  }
  if (!SameFile(now, target.info)) return Changed();
  auto exchange = [&] {
    return Errno(
        RetryOnEintr([&] { return renameat2(dir, from.c_str(), dir, name, RENAME_EXCHANGE); }));
  };
  int err = Step(fs, FsStep::kExchange, target.Shown(), exchange);
  if (err == EINVAL || err == ENOSYS || err == EOPNOTSUPP) {
    // No exchange on this file system: a rename, right after the check above.
    return Failed(Errno(RetryOnEintr([&] { return renameat(dir, from.c_str(), dir, name); })));
  }
  if (err != 0) return Failed(err);
  // The file that came out must be the one that was checked, or it goes back.
  std::string old = target.folder.Path(from);
  struct stat out;
  int looked =
      Errno(RetryOnEintr([&] { return fstatat(dir, from.c_str(), &out, AT_SYMLINK_NOFOLLOW); }));
  if (looked != 0 || !SameFile(out, target.info)) {
    SaveResult result = looked == 0 || looked == ENOENT ? Changed() : Failed(looked);
    if (int back = Step(fs, FsStep::kExchangeBack, target.Shown(), exchange); back != 0) {
      // What came out stays under the temporary name, which is said.
      result = Failed(back);
      result.kept = old;
      temp.name.clear();
    }
    return result;
  }
  temp.name.clear();
  SaveResult result;
  result.err = Step(fs, FsStep::kRemoveOld, old, [&] {
    return Errno(RetryOnEintr([&] { return unlinkat(dir, from.c_str(), 0); }));
  });
  if (result.err != 0) result.kept = old;
  return result;
}

// A regular file (or a new name) replaced through a temporary file: the target's owner,
// extended attributes and mode first, then the bytes, then the exchange or the rename.
SaveResult WriteByRename(const Target& target, const Pieces& bytes, const FileSystem& fs) {
  const struct stat* old = target.exists ? &target.info : nullptr;
  Attributes attributes;
  if (old != nullptr) {
    SaveResult read = Step(fs, FsStep::kReadAttributes, target.Shown(),
                           [&] { return ReadAttributes(target, attributes); });
    if (!read.saved()) return read;
  }
  NewFile temp;
  // Appended in turn, for the same reason as in StartAt.
  temp.pattern.push_back('.');
  temp.pattern += CutFor(target.name, 1 + sizeof kTempMarker - 1 + kRandomSize);
  temp.pattern += kTempMarker;
  temp.pattern += kRandom;
  auto path = [&] { return target.folder.Path(temp.Entry()); };
  int err = Step(fs, FsStep::kCreateTemp, path(), [&] { return CreateIn(target.folder, temp); });
  if (err != 0) {
    return old != nullptr && Refuses(err) ? WriteKeepingOld(target, bytes, fs) : Failed(err);
  }

  if (old != nullptr) {
    err = Step(fs, FsStep::kMatchOwner, path(), [&] {
      struct stat st;
      if (fstat(temp.fd.get(), &st) != 0) return errno;
      if (st.st_uid == old->st_uid && st.st_gid == old->st_gid) return 0;
      return Errno(RetryOnEintr([&] { return fchown(temp.fd.get(), old->st_uid, old->st_gid); }));
    });
    bool in_place = err != 0;
    if (err == 0) {
      err = Step(fs, FsStep::kMatchAttributes, path(),
                 [&] { return MatchAttributes(temp.fd.get(), attributes); });
      in_place = CannotCarry(err);
    }
    if (err != 0) {
      Discard(target.folder, temp, FsStep::kRemoveTemp, fs);
      return in_place ? WriteKeepingOld(target, bytes, fs) : Failed(err);
    }
  }
  // After the owner and the attributes: a change of owner clears the set-id bits, and an ACL
  // sets the group's.
  mode_t mode = old != nullptr ? old->st_mode & 07777 : 0666 & ~CurrentUmask();
  err = Step(fs, FsStep::kMatchMode, path(),
             [&] { return Errno(RetryOnEintr([&] { return fchmod(temp.fd.get(), mode); })); });
  if (err == 0) {
    err = Step(fs, FsStep::kWrite, path(), [&] { return WritePieces(temp.fd.get(), bytes); });
  }
  if (err == 0) err = Step(fs, FsStep::kSync, path(), [&] { return Sync(temp.fd.get()); });
  if (err == 0) {
    err = Step(fs, FsStep::kNameTemp, path(), [&] { return Name(target.folder, temp); });
  }
  if (err == 0) err = Step(fs, FsStep::kClose, path(), [&] { return Close(temp.fd); });
  SaveResult result = Failed(err);
  if (err == 0) {
    result =
        Step(fs, FsStep::kRename, target.Shown(), [&] { return PutInPlace(target, temp, fs); });
  }
  if (!result.saved()) {
    Discard(target.folder, temp, FsStep::kRemoveTemp, fs);
    return result;
  }
  // The new content is in place; a folder that cannot be flushed does not undo the save.
  Step(fs, FsStep::kSyncFolder, target.folder.Openable(),
       [&] { return SyncFolder(target.folder); });
  return result;
}

}  // namespace

SaveResult WriteFileSafely(const char* path, const Pieces& bytes, const FileSystem& fs) {
  Target target;
  if (int err = Resolve(path, target); err != 0) return Failed(err);
  if (!target.exists) return WriteByRename(target, bytes, fs);
  if (!S_ISREG(target.info.st_mode)) return WriteToDevice(target, bytes, fs);
  if (target.info.st_nlink > 1) return WriteKeepingOld(target, bytes, fs);
  // The rename must not replace a file that the user may not write.
  if (RetryOnEintr([&] {
        return faccessat(target.folder.fd.get(), target.name.c_str(), W_OK,
                         AT_EACCESS | AT_SYMLINK_NOFOLLOW);
      }) != 0) {
    return errno == ENOENT ? Changed() : Failed(errno);
  }
  return WriteByRename(target, bytes, fs);
}
