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
#include "core/editor.h"
#include "core/messages.h"
#include "doc/save.h"

std::string_view TextOf(std::string_view bytes) {
  if (!bytes.empty() && bytes.back() == '\n') bytes.remove_suffix(1);
  std::size_t nul = bytes.find('\0');
  return nul == std::string_view::npos ? bytes : bytes.substr(0, nul);
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

bool DataWarning(Io& io, float percent) {
  Print(io, msg::kPartialLoad, static_cast<double>(percent));
  Line(io, msg::kPartialLoad2);
  Line(io, msg::kPartialLoad3);
  Line(io, msg::kPartialLoad4);
  char answer[16];
  if (!ReadLine(io, answer, sizeof answer)) {
    // The input ended: end the output's last line, as every other end of input does.
    Print(io, "\n");
    return false;
  }
  return std::strcmp(answer, "Y\n") == 0;
}

bool ParseLines(std::string_view text, Document& doc) {
  doc.Clear();
  bool fits = true;
  WalkLines(text, doc.lines(), doc.lsize(),
            [&](int index, std::size_t start, std::size_t length, bool) {
              if (length > static_cast<std::size_t>(doc.lsize()) - 1) {
                fits = false;
                return;
              }
              // The cleared slot is all zeros, so the copied text is already terminated.
              if (length > 0) std::memcpy(doc.slot(index).data(), text.data() + start, length);
            });
  return fits;
}

void LoadBytes(Editor& ed, std::string_view bytes) {
  std::string_view text = TextOf(bytes);
  LineCount count = MarkLines(text, ed.lines(), ed.lsize(), ed.io);
  if (count.partial) {
    float percent = static_cast<float>(static_cast<double>(count.loaded) * 100.0 /
                                       static_cast<double>(text.size()));
    if (!DataWarning(ed.io, percent)) return ed.Stop(1);
  }
  ed.doc.ExpectFill(count.lines);
  if (!ParseLines(text, ed.doc)) {
    Line(ed.io, msg::kParseError);
    ed.Stop(1);
  }
}

namespace {

using Block = std::unique_ptr<char, decltype(&std::free)>;

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
// `grow` is set; stops at the end of the file. Returns 0 or an errno.
int ReadInto(int fd, Block& block, std::size_t& size, std::size_t capacity, bool grow) {
  for (;;) {
    if (size == capacity) {
      if (!grow) return 0;
      if (capacity > kMaxFile) return EFBIG;
      capacity *= 2;
      if (int err = Reserve(block, capacity); err != 0) return err;
    }
    ssize_t n = read(fd, block.get() + size, capacity - size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return size > kMaxFile ? EFBIG : 0;
    size += static_cast<std::size_t>(n);
  }
}

// Reads an open file whole into one block. The size is taken by seeking, and a block of that
// size is read (a file that shrank meanwhile gives what it still holds); a file that cannot
// seek (a pipe, a FIFO) is read to its end. Returns 0 or an errno.
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

// Reads the file whole before printing anything, so that a failure leaves one line of report
// and the document as it was.
void LoadFile(Editor& ed, const char* name) {
  int fd = open(name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    Print(ed.io, msg::kFileNotFound, name);
    return;
  }
  Block block(nullptr, &std::free);
  std::size_t size = 0;
  int err = ReadAll(fd, block, size);
  close(fd);
  if (err != 0) {
    Print(ed.io, msg::kCouldNotRead, name, std::strerror(err));
    return;
  }
  Print(ed.io, msg::kOpened, name);
  Print(ed.io, msg::kReadBytes, static_cast<int>(size));
  LoadBytes(ed, {block.get(), size});
}

// The questions before an `open`. Returns false when there is nothing to open.
bool OpenDialogue(Editor& ed) {
  Line(ed.io, msg::kOpenPrompt1);
  Line(ed.io, msg::kOpenPrompt2);
  Line(ed.io, msg::kOpenPrompt3);
  char answer[kNameSize];
  if (!ReadAnswer(ed.io, answer, kNameSize) || std::strcmp(answer, "x") == 0) return false;
  if (std::strcmp(answer, "s") == 0) {
    if (!Save(ed)) return false;
    // At this prompt "x" and "s" are names like any other.
    Line(ed.io, msg::kOpenNext);
    if (!ReadAnswer(ed.io, answer, kNameSize)) return false;
  }
  std::strcpy(ed.open_name, answer);
  return true;
}

}  // namespace

bool Open(Editor& ed, int at_startup) {
  if (at_startup == 0 && !OpenDialogue(ed)) return false;
  LoadFile(ed, ed.open_name);
  return true;
}

// Leaving the dialogue keeps the current file name: copying the unchanged open name over it
// would point the next save at another file.
void OpenCommand(Editor& ed) {
  if (Open(ed, 0) && ed.running) std::strcpy(ed.current_name, ed.open_name);
}
