#include "doc/load.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/signals.h"

std::string_view TextOf(std::string_view bytes) {
  if (!bytes.empty() && bytes.back() == '\n') bytes.remove_suffix(1);
  std::size_t nul = bytes.find('\0');
  return nul == std::string_view::npos ? bytes : bytes.substr(0, nul);
}

std::size_t UncutLength(std::string_view bytes) {
  return !bytes.empty() && bytes.back() == '\n' ? bytes.size() - 1 : bytes.size();
}

std::optional<float> PartialShare(std::string_view bytes, const LineCount& count) {
  if (!count.partial) return std::nullopt;
  return static_cast<float>(static_cast<double>(count.loaded) * 100.0 /
                            static_cast<double>(UncutLength(bytes)));
}

Status PrepareLines(std::string_view text, int lines, int lsize, Document::Incoming& incoming,
                    LineCount& count) {
  // Every line takes a byte at least, its newline or its text. Without room for that many at
  // once the index grows as the lines come.
  std::size_t most = std::min(text.size(), static_cast<std::size_t>(std::max(lines, 0)));
  (void)incoming.MakeRoom(static_cast<int>(most));
  int err = 0;
  auto add = [&](int, std::size_t start, std::size_t length, bool split) {
    std::size_t after = start + length;
    bool ended = !split && after < text.size() && text[after] == '\n';
    if (err == 0) err = incoming.Add(text.data() + start, static_cast<int>(length), ended).err;
  };
  count = WalkLines(text, lines, lsize, add);
  return err;
}

namespace {

// First block for a file whose size cannot be taken (a pipe, a FIFO); it doubles as needed.
constexpr std::size_t kFirstBlock = 64 * 1024;
// "Read %i bytes, " reports the size as an int.
constexpr std::size_t kMaxFile = INT_MAX;

// Grows `block` to `capacity` bytes, or fails with ENOMEM.
Status GrowBlock(Block& block, std::size_t capacity) {
  char* grown = static_cast<char*>(std::realloc(block.get(), capacity));
  if (grown == nullptr) return ENOMEM;
  ExpectFullUse(grown, capacity);
  block.release();
  block.reset(grown);
  return 0;
}

// Reads up to `limit` bytes into the block from `size` on, growing it (up to kMaxFile) when
// `grow` is set; stops at the end of the file. Fails with EINTR once a signal the
// editor acts on has come (a slow file, such as a FIFO whose writer waits, is not waited for).
Status ReadInto(int fd, Block& block, std::size_t& size, std::size_t capacity, bool grow) {
  for (;;) {
    if (size == capacity) {
      if (!grow) return 0;
      if (capacity > kMaxFile) return EFBIG;
      capacity *= 2;
      if (Status grown = GrowBlock(block, capacity); !grown.ok()) return grown;
    }
    // A signal that came between two reads interrupted none: it is looked at before each.
    ssize_t n = RetryOnEintr([&] { return read(fd, block.get() + size, capacity - size); },
                             [] { return PendingSignal() != 0; });
    if (n < 0) return errno;
    if (n == 0) return size > kMaxFile ? EFBIG : 0;
    size += static_cast<std::size_t>(n);
  }
}

}  // namespace

// Reads an open file whole into one block. The size is taken by seeking, and a block of that
// size is read (a file that shrank meanwhile gives what it still holds); a file that cannot
// seek (a pipe, a FIFO) is read to its end. EINTR: see ReadInto.
Status ReadAll(int fd, Block& block, std::size_t& size) {
  size = 0;
  // Every step is tried again when a signal the editor does not act on interrupted it.
  auto stop = [] { return PendingSignal() != 0; };
  struct stat st;
  if (RetryOnEintr([&] { return fstat(fd, &st); }, stop) != 0) return errno;
  // A folder may claim any size; reading it would fail anyway.
  if (S_ISDIR(st.st_mode)) return EISDIR;
  off_t end = RetryOnEintr([&] { return lseek(fd, 0, SEEK_END); }, stop);
  if (end < 0 && errno != ESPIPE) return errno;
  bool sized = end >= 0;
  if (sized && static_cast<unsigned long long>(end) > kMaxFile) return EFBIG;
  if (sized && RetryOnEintr([&] { return lseek(fd, 0, SEEK_SET); }, stop) != 0) return errno;
  std::size_t capacity = sized ? static_cast<std::size_t>(end) : kFirstBlock;
  // One byte at least, so that an empty file still has a block.
  if (Status had = GrowBlock(block, capacity > 0 ? capacity : 1); !had.ok()) return had;
  return ReadInto(fd, block, size, capacity, !sized);
}

Status OpenToRead(const char* name, Fd& fd) {
  // A FIFO's open waits for a writer.
  fd = Fd(RetryOnEintr([&] { return open(name, O_RDONLY | O_CLOEXEC); },
                       [] { return PendingSignal() != 0; }));
  return fd.valid() ? 0 : errno;
}
