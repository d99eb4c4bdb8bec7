// Writing the document to a file: the save image, and the file write that never leaves a
// half-written file behind where it can be avoided. Every file-system step passes the seam.
// Reading files back is doc/load.h.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <type_traits>
#include <utility>

#include "core/defaults.h"
#include "core/document.h"
#include "doc/file_system.h"

/// Bytes of the written form: every line from 0 to DocLength, each followed by a newline.
std::size_t ImageSize(const Document& doc);

/// Assembles the written form into `image`, which holds exactly ImageSize(doc) bytes.
void FormatLines(const Document& doc, std::span<char> image);

/// The bytes of a file to be written, made piece by piece as they are written so that no whole
/// image of them need be held: size() bytes in all. Each() hands every piece in order to `sink`
/// and stops at the first nonzero result, which it returns (0 when all went); it may be gone
/// through more than once. A span of bytes is one piece.
class Pieces {
 public:
  using Sink = std::function<int(std::span<const char>)>;
  using Source = std::function<int(const Sink&)>;

  Pieces(std::size_t size, Source each) : size_(size), each_(std::move(each)) {}
  template <typename Bytes,
            typename = std::enable_if_t<std::is_convertible_v<const Bytes&, std::span<const char>>>>
  Pieces(const Bytes& bytes)  // NOLINT: a span of bytes is the simplest content
      : size_(std::span<const char>(bytes).size()),
        each_([piece = std::span<const char>(bytes)](const Sink& sink) {
          return piece.empty() ? 0 : sink(piece);
        }) {}

  std::size_t size() const { return size_; }
  int Each(const Sink& sink) const { return each_(sink); }

 private:
  std::size_t size_;
  Source each_;
};

/// The written form of the document (see ImageSize) as pieces: runs of loaded lines straight
/// from the load block, other lines gathered in a buffer of a few hundred KiB. The document
/// must not change while they are written. A buffer that cannot be had fails with ENOMEM.
Pieces DocumentPieces(const Document& doc);

/// Replaces the content of the file at `path` with `bytes`, keeping its permission bits and
/// following symbolic links (but none that lies in a shared sticky folder and belongs to
/// neither the user nor the folder's owner: EACCES). Where it can, writes a temporary file in
/// the same folder, flushes it to disk and renames it over the target, so that a failure or a
/// crash leaves the old content whole. A target with several hard links, one whose folder
/// refuses a new file, or one whose owner a new file cannot be given is written in place, after
/// its old content has been copied to a flushed backup beside it (or in the user's state
/// folder, see BackupFolder); a failed in-place write puts the old content back. Devices and
/// FIFOs are written in place as they stand. Returns 0, or the errno of the first failure;
/// when the old content could not be put back, `kept` (if given) receives the backup's path.
/// Interrupted system calls are retried, and no temporary file survives the call.
int WriteFileSafely(const char* path, const Pieces& bytes, const FileSystem& fs = {},
                    std::string* kept = nullptr);

/// Follows the symbolic links on the way from `path` to the entry that a save writes, as
/// WriteFileSafely does (a link planted in a shared sticky folder is refused with EACCES),
/// leaving its path in `target`; the entry need not exist. Returns 0 or an errno.
int ResolveLinks(const char* path, std::string& target);

/// The folder that takes backups where the target's own folder cannot:
/// $XDG_STATE_HOME/morvax/backup, or ~/.local/state/morvax/backup when XDG_STATE_HOME is unset,
/// empty or relative. False when neither gives an absolute path (no home).
bool BackupFolder(std::string& folder);

/// What a file was when this session last read or wrote it: another program's change shows as
/// a different size, modification time or inode.
struct FileStamp {
  bool known = false;
  char name[kNameSize] = {};
  struct stat info = {};
};

/// Stamps the file `name` as it is now (through `fd` when it is open, else by its name); an
/// entry that cannot be examined leaves the stamp unknown.
void TakeStamp(FileStamp& stamp, const char* name, int fd = -1);

/// True when `name` is the stamped file and it still exists, but differs from its stamp.
bool ChangedSince(const FileStamp& stamp, const char* name);

/// Writes `bytes` to a new file `base` in `folder` ("" for the working folder), or `base.1` to
/// `base.99` when that name is taken: never over an existing entry, mode 0600, flushed to disk
/// with its folder entry. The name used goes to `path`. Returns 0 or an errno.
int WriteNewFile(const std::string& folder, const char* base, const Pieces& bytes,
                 std::string& path);
