#include "doc/load.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/document.h"
#include "core/signals.h"
#include "app/messages.h"

std::string_view TextOf(std::string_view bytes) {
  if (!bytes.empty() && bytes.back() == '\n') bytes.remove_suffix(1);
  std::size_t nul = bytes.find('\0');
  return nul == std::string_view::npos ? bytes : bytes.substr(0, nul);
}

std::size_t UncutLength(std::string_view bytes) {
  return !bytes.empty() && bytes.back() == '\n' ? bytes.size() - 1 : bytes.size();
}

namespace {

// The one splitting rule, shared by the count and the placement so that they cannot differ.
// Calls emit(index, start, length, split) for each line in order, `split` when the line ended
// because its slot was full (the next line then begins with the byte that did not fit).
// A newline ends a line and belongs to none; a line of exactly lsize - 1 characters followed
// by a newline is not split. The last line may end with the text. Stops after `lines` lines.
//
//   lsize 4, text "abcdef\ngh":  "abc" (split) | "def" (newline) | "gh" (end of text)
template <typename Emit>
LineCount WalkLines(std::string_view text, int lines, int lsize, Emit emit) {
  const std::size_t room = static_cast<std::size_t>(lsize) - 1;
  const std::size_t size = text.size();
  LineCount count;
  // The next newline at or after `from`, or the text's size when there is none. Searched
  // again only once a line has passed it, so a long line is not scanned once per piece.
  auto next_newline = [text](std::size_t from) {
    std::size_t at = text.find('\n', from);
    return at == std::string_view::npos ? text.size() : at;
  };
  std::size_t start = 0;
  std::size_t newline = next_newline(0);
  while (start < size && count.lines < lines) {
    if (newline < start) newline = next_newline(start);
    std::size_t length = newline - start;
    if (length > room) {
      emit(count.lines, start, room, true);
      start += room;
      ++count.splits;
    } else {
      emit(count.lines, start, length, false);
      start = newline < size ? newline + 1 : size;
    }
    ++count.lines;
  }
  count.loaded = start;
  count.partial = start < size;
  return count;
}

}  // namespace

LineCount MarkLines(std::string_view text, int lines, int lsize, Io& io) {
  LineCount count =
      WalkLines(text, lines, lsize, [&io](int index, std::size_t, std::size_t, bool split) {
        if (split) Print(io, msg::kLineSplit, index + 1);
      });
  Print(io, msg::kLinesGenerated, count.lines);
  return count;
}

void ReportLines(std::string_view text, const LineCount& count, int lines, int lsize, Io& io) {
  if (count.splits > 0) {
    MarkLines(text, lines, lsize, io);
  } else {
    Print(io, msg::kLinesGenerated, count.lines);
  }
}

bool DataWarning(Io& io, float percent) {
  Print(io, msg::kPartialLoad, static_cast<double>(percent));
  Line(io, msg::kPartialLoad2);
  Line(io, msg::kPartialLoad3);
  Line(io, msg::kPartialLoad4);
  char answer[16];
  if (!ReadLine(io, answer, sizeof answer)) return false;
  return !io.pasted && std::strcmp(answer, "Y\n") == 0;  // a pasted line is no yes
}

bool PrepareLines(std::string_view text, int lines, int lsize, Document::Incoming& incoming,
                  LineCount& count) {
  bool ok = true;
  count = WalkLines(text, lines, lsize, [&](int, std::size_t start, std::size_t length, bool) {
    ok = ok && incoming.Add(text.data() + start, static_cast<int>(length));
  });
  return ok;
}

bool ParseLines(std::string_view text, Document& doc) {
  Block block(static_cast<char*>(std::malloc(text.size() + 1)), &std::free);
  if (block == nullptr) return false;
  if (!text.empty()) std::memcpy(block.get(), text.data(), text.size());
  std::string_view copy(block.get(), text.size());
  Document::Incoming incoming;
  LineCount count;
  if (!PrepareLines(copy, doc.lines(), doc.lsize(), incoming, count)) return false;
  doc.Adopt(incoming, block, text.size());
  return true;
}

namespace {

// First block for a file whose size cannot be taken (a pipe, a FIFO); it doubles as needed.
constexpr std::size_t kFirstBlock = 64 * 1024;
// "Read %i bytes, " reports the size as an int.
constexpr std::size_t kMaxFile = INT_MAX;

// Grows `block` to `capacity` bytes. Returns 0 or ENOMEM.
int Reserve(Block& block, std::size_t capacity) {
  char* grown = static_cast<char*>(std::realloc(block.get(), capacity));
  if (grown == nullptr) return ENOMEM;
  ExpectFullUse(grown, capacity);
  block.release();
  block.reset(grown);
  return 0;
}

// Reads up to `limit` bytes into the block from `size` on, growing it (up to kMaxFile) when
// `grow` is set; stops at the end of the file. Returns 0 or an errno; EINTR once a signal the
// editor acts on has come (a slow file, such as a FIFO whose writer waits, is not waited for).
int ReadInto(int fd, Block& block, std::size_t& size, std::size_t capacity, bool grow) {
  for (;;) {
    if (size == capacity) {
      if (!grow) return 0;
      if (capacity > kMaxFile) return EFBIG;
      capacity *= 2;
      if (int err = Reserve(block, capacity); err != 0) return err;
    }
    // Looked at before every read: a signal that came between two reads interrupted none.
    if (PendingSignal() != 0) return EINTR;
    ssize_t n = read(fd, block.get() + size, capacity - size);
    if (n < 0 && errno == EINTR) continue;  // a signal the editor does not act on
    if (n < 0) return errno;
    if (n == 0) return size > kMaxFile ? EFBIG : 0;
    size += static_cast<std::size_t>(n);
  }
}

}  // namespace

// Reads an open file whole into one block. The size is taken by seeking, and a block of that
// size is read (a file that shrank meanwhile gives what it still holds); a file that cannot
// seek (a pipe, a FIFO) is read to its end. Returns 0 or an errno (EINTR: see ReadInto).
int ReadAll(int fd, Block& block, std::size_t& size) {
  size = 0;
  struct stat st;
  if (fstat(fd, &st) != 0) return errno;
  // A folder may claim any size; reading it would fail anyway.
  if (S_ISDIR(st.st_mode)) return EISDIR;
  off_t end = lseek(fd, 0, SEEK_END);
  if (end < 0 && errno != ESPIPE) return errno;
  bool sized = end >= 0;
  if (sized && static_cast<unsigned long long>(end) > kMaxFile) return EFBIG;
  if (sized && lseek(fd, 0, SEEK_SET) != 0) return errno;
  std::size_t capacity = sized ? static_cast<std::size_t>(end) : kFirstBlock;
  // One byte at least, so that an empty file still has a block.
  if (int err = Reserve(block, capacity > 0 ? capacity : 1); err != 0) return err;
  return ReadInto(fd, block, size, capacity, !sized);
}

int OpenToRead(const char* name, Fd& fd) {
  // A FIFO's open waits for a writer.
  for (;;) {
    if (PendingSignal() != 0) return EINTR;
    fd = Fd(open(name, O_RDONLY | O_CLOEXEC));
    if (fd.valid()) return 0;
    if (errno != EINTR) return errno;
  }
}
