// Writing the document to a file: the save image, and the file write that never leaves a
// half-written file behind where it can be avoided. Every file-system step passes the seam.
// Reading files back is doc/load.h.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstring>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/defaults.h"
#include "core/document.h"
#include "core/fd.h"
#include "core/status.h"
#include "doc/file_system.h"
#include "doc/target.h"

/// Bytes of the written form: every line from 0 to DocLength, each followed by a newline.
std::size_t ImageSize(const Document& doc);

/// The bytes of a file to be written, made piece by piece as they are written so that no whole
/// image of them need be held: size() bytes in all. Each() hands every piece in order to `sink`
/// and stops at the first failure, which it returns; it may be gone through more than once. A span
/// of bytes is one piece. Neither making, copying nor going through them allocates: the source
/// is kept in the object itself (a small callable that may be copied byte for byte), and the
/// sink is only referred to.
class Pieces {
 public:
  /// A callable taking a piece and returning a Status, referred to (it must outlive the call).
  class Sink {
   public:
    template <typename Call, typename = std::enable_if_t<!std::is_same_v<Call, Sink>>>
    Sink(const Call& call)  // NOLINT: any callable that takes a piece is a sink
        : call_(&call), run_([](const void* call, std::span<const char> piece) -> Status {
            return (*static_cast<const Call*>(call))(piece);
          }) {}
    Status operator()(std::span<const char> piece) const { return run_(call_, piece); }

   private:
    const void* call_;
    Status (*run_)(const void*, std::span<const char>);
  };

  /// `each(sink)` hands the pieces to `sink`. `spare`, when given, is kGatherRoom bytes that the
  /// write may use when it cannot have a buffer of its own (see DocumentPieces).
  template <typename Source>
  Pieces(std::size_t size, const Source& each, char* spare = nullptr)
      : size_(size), spare_(spare) {
    static_assert(sizeof(Source) <= sizeof room_ && alignof(Source) <= alignof(std::max_align_t));
    static_assert(std::is_trivially_copyable_v<Source> &&
                  std::is_trivially_destructible_v<Source>);
    std::memcpy(room_, static_cast<const void*>(&each), sizeof(Source));
    each_ = [](const void* source, const Sink& sink) -> Status {
      return (*static_cast<const Source*>(source))(sink);
    };
  }
  template <typename Bytes,
            typename = std::enable_if_t<std::is_convertible_v<const Bytes&, std::span<const char>>>>
  Pieces(const Bytes& bytes)  // NOLINT: a span of bytes is the simplest content
      : Pieces(std::span<const char>(bytes).size(),
               [piece = std::span<const char>(bytes)](const Sink& sink) {
                 return piece.empty() ? Status() : sink(piece);
               }) {}

  std::size_t size() const { return size_; }
  Status Each(const Sink& sink) const { return each_(room_, sink); }
  /// Room a write may borrow when memory is refused (kGatherRoom bytes), or null.
  char* spare() const { return spare_; }

 private:
  std::size_t size_;
  char* spare_;
  Status (*each_)(const void*, const Sink&);
  alignas(std::max_align_t) unsigned char room_[64];
};

/// The bytes DocumentPieces gathers short lines in, and the least a spare room holds.
inline constexpr std::size_t kGatherRoom = 256 * 1024;

/// The written form of the document (see ImageSize) as pieces: runs of loaded lines straight
/// from the load block, other lines gathered in `room` (kGatherRoom bytes), or, without it, in
/// a buffer had for each pass, or in `spare` (kGatherRoom bytes, also lent to the write as
/// Pieces::spare()) when that cannot be had; ENOMEM when neither can. Nothing here allocates
/// when `room` is given. The document must not change while they are kept (builds with
/// assertions check it).
Pieces DocumentPieces(const Document& doc, char* room = nullptr, char* spare = nullptr);

/// What a save did.
enum class SaveOutcome {
  kSaved,          // the new content is in the file
  kFailed,         // it is not: `err` says why
  kTargetChanged,  // the target changed kind or identity between the checks and the write
                   // (replaced, removed, turned into a link, or made where nothing was):
                   // nothing was written over it
  kImmutable,      // the file is marked immutable: nothing was written
  kAppendOnly,     // the file is marked append-only: nothing was written
};

struct [[nodiscard]] SaveResult {
  SaveOutcome outcome = SaveOutcome::kSaved;
  int err = 0;       // kFailed: its errno; kSaved: 0, or why the backup `kept` could not be removed
  std::string kept;  // a backup that still holds the old content, when one stayed: its path

  bool saved() const { return outcome == SaveOutcome::kSaved; }
};

/// Replaces the content of the file `target` leads to with `bytes`, keeping its permission bits,
/// owner, group, extended attributes and inode flags (see doc/save.cc for the exceptions). The
/// file is reached only through the target's descriptors; one that changed since it was found
/// gives kTargetChanged. Where it can, writes a temporary file in the same folder, flushes it to
/// disk and exchanges it with the target (or renames it over the target), so that a failure or a
/// crash leaves the old content whole; where it cannot (ChooseWay in doc/save_steps.h says when)
/// the target is written in place, after its old content has been copied to a flushed backup
/// beside it (or in the user's state folder, see BackupFolder, with its companion); a failed
/// in-place write puts the old content back. A backup that could not be removed afterwards (or,
/// after a failure, whose content could not be put back) is `kept`, as is an old file that an
/// exchange left and that could not be removed. A file marked immutable or append-only is not
/// written. Devices and FIFOs are written as they stand, and a pending SIGINT, SIGHUP or SIGTERM
/// abandons that write with EINTR. Other interrupted system calls are retried, and no temporary
/// file survives the call. After a save, `target.info` is the state of the file written.
SaveResult WriteFileSafely(Target& target, const Pieces& bytes, const FileSystem& fs = {});

/// Resolves `path` and writes it as above.
SaveResult WriteFileSafely(const char* path, const Pieces& bytes, const FileSystem& fs = {});

/// The steps a save asks the seam about, as its tables list them: those of a save by rename
/// (the exchange's after the rename's), or with `in_place`, those of a write in place (the
/// target opened, the backup made, the write, the old content put back, the backup removed).
std::vector<FsStep> SaveSteps(bool in_place);

/// The folder that takes backups where the target's own folder cannot:
/// $XDG_STATE_HOME/morvax/backup, or ~/.local/state/morvax/backup when XDG_STATE_HOME is unset,
/// empty or relative. Empty when neither gives an absolute path (no home).
std::string BackupFolder();

/// Writes `bytes` to a new file in `folder` ("" for the working folder) and gives it the first
/// free name of `base`, `base.1` ... `base.99`: never over an existing entry, mode 0600, flushed
/// to disk before it is named, then its folder. Until then it is unnamed, or (where the file
/// system has no unnamed files) `.base-XXXXXX`, removed on failure, so that a cut copy never
/// bears one of those names. The path used (or, on failure, the first one) goes to `path`,
/// NUL-terminated. Allocates nothing, and neither do the pieces of DocumentPieces given a room,
/// so that a recovery file can be written when memory has run out.
Status WriteNewFile(const char* folder, const char* base, const Pieces& bytes,
                    std::span<char> path);
