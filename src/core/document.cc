#include "core/document.h"

#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include <ostream>

Document::~Document() {
  Free();
}

void Document::ReleaseAll() {
  // The index is emptied below: only the blocks of grown lines need freeing, when there are
  // any. The records in use lie on each side of the gap.
  auto free_grown = [this](const LineRecord* r, const LineRecord* end) {
    for (; r < end; ++r) {
      if (Owned(r->text)) std::free(r->text);
    }
  };
  if (std::exchange(grown_, false)) {
    free_grown(index_, index_ + gap_);
    free_grown(index_ + gap_ + gapsize_, index_ + count_ + gapsize_);
  }
  std::free(block_);
  block_ = nullptr;
  block_size_ = 0;
  count_ = gap_ = 0;
  gapsize_ = cap_;
}

void Document::Free() {
  ReleaseAll();
  ++changes_;
  MarkWhole();
  std::free(index_);
  std::free(work_);
  for (char*& spare : spare_) {
    std::free(spare);
    spare = nullptr;
  }
  index_ = nullptr;
  work_ = nullptr;
  cap_ = gapsize_ = lines_ = lsize_ = 0;
}

namespace {

// Whether a block of `size` bytes could be had, as the grid the document stands for: the same
// request a calloc of that size makes, given back at once. Its pages are never touched.
bool CouldHave(std::size_t size) {
  void* block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) return false;
  munmap(block, size);
  return true;
}

}  // namespace

Status Document::Allocate(int lines, int lsize) {
  if (lines <= 0 || lsize < 2) return EINVAL;
  if (static_cast<long long>(lines) * lsize > INT_MAX) return EINVAL;
  std::size_t width = static_cast<std::size_t>(lsize);
  if (!CouldHave(static_cast<std::size_t>(lines) * width)) return ENOMEM;
  char* work = static_cast<char*>(std::malloc(width));
  if (work == nullptr) return ENOMEM;
  Free();
  work_ = work;
  lines_ = lines;
  lsize_ = lsize;
  return 0;
}

void Document::Release(LineRecord& record) {
  if (Owned(record.text)) std::free(record.text);
  record = {nullptr, 0};
}

char* Document::TakeSpare() {
  for (char*& spare : spare_) {
    if (spare != nullptr) return std::exchange(spare, nullptr);
  }
  return nullptr;
}

// The larger table adds unused records at the end; the gap stays where it is.
Status Document::GrowIndex(int capacity) {
  if (capacity <= cap_) return 0;
  if (Status s = GrowRecords(index_, cap_, capacity); !s.ok()) return s;
  Normalize();
  return 0;
}

Status Document::GrowRecords(LineRecord*& index, int& cap, int capacity) {
  if (capacity <= cap) return 0;
  auto* grown = static_cast<LineRecord*>(
      std::realloc(index, static_cast<std::size_t>(capacity) * sizeof(LineRecord)));
  if (grown == nullptr) return ENOMEM;
  index = grown;
  cap = capacity;
  return 0;
}

void Document::MoveGap(int to) {
  if (to < gap_) {
    std::memmove(index_ + to + gapsize_, index_ + to, (gap_ - to) * sizeof(LineRecord));
  } else if (to > gap_) {
    std::memmove(index_ + gap_, index_ + gap_ + gapsize_, (to - gap_) * sizeof(LineRecord));
  }
  gap_ = to;
}

// Empty records up to `count` lines, after the last one: the gap does not move.
Status Document::Extend(int count) {
  if (count <= count_) return 0;
  int shift = gap_ < count_ ? gapsize_ : 0;
  if (count + shift > cap_) {
    Status grown = GrowIndex(std::max(count + shift, std::min(lines_ + shift, cap_ * 2)));
    if (!grown.ok()) return grown;
  }
  for (int i = count_; i < count; ++i) index_[i + shift] = {nullptr, 0};
  if (shift == 0) gap_ = count;  // a gap at the end stays there
  count_ = count;
  Normalize();
  return 0;
}

// The caller has made sure of a free record (OpenLine).
void Document::InsertEmpty(int line) {
  MoveGap(line);
  index_[line] = {nullptr, 0};
  ++gap_;
  --gapsize_;
  ++count_;
  Normalize();
}

void Document::Erase(int line) {
  if (line == count_ - 1) {
    // The last record just becomes unused, wherever the gap is.
    Release(At(line));
    --count_;
    Normalize();
    return;
  }
  MoveGap(line);
  Release(index_[line + gapsize_]);
  ++gapsize_;
  --count_;
  Normalize();
}

// How many bytes of `text` a line takes where `room` bytes are left: up to its first NUL.
int Document::Usable(std::string_view text, int room) const {
  std::size_t n = std::min(text.size(), static_cast<std::size_t>(std::max(room, 0)));
  const void* nul = n > 0 ? std::memchr(text.data(), '\0', n) : nullptr;
  return nul != nullptr ? static_cast<int>(static_cast<const char*>(nul) - text.data())
                        : static_cast<int>(n);
}

// A block of its own for a line of `length` bytes: from the system, or else a spare one.
char* Document::NewBlock(int length) {
  grown_ = true;
  char* block = static_cast<char*>(std::malloc(static_cast<std::size_t>(length)));
  return block != nullptr ? block : TakeSpare();
}

// Where line i (which has a record) can take a text of `length` bytes: over its own bytes when
// they are as many (the load block's included), or else a new block. ENOMEM when none can be
// had; a new block that goes unused after all is the caller's to free.
Status Document::Room(int i, int length, char*& room) {
  const LineRecord& r = At(i);
  room = length <= r.length ? r.text : NewBlock(length);
  return room != nullptr || length == 0 ? 0 : ENOMEM;
}

// Line i's text becomes the `length` bytes at `text`, put in `room` (from Room).
void Document::Place(int i, char* room, const char* text, int length) {
  LineRecord& r = At(i);
  if (length == 0) return Release(r);
  std::memmove(room, text, length);
  if (room != r.text) {
    Release(r);
    r.text = room;
  }
  r.length = length;
}

// Makes the first `length` bytes of the work block line i's text.
Status Document::Store(int i, int length) {
  if (length == 0 && i >= count_) return 0;
  if (Status s = Extend(i + 1); !s.ok()) return s;
  char* room = nullptr;
  if (Status s = Room(i, length, room); !s.ok()) return s;
  Place(i, room, work_, length);
  return 0;
}

// Every change puts the new line together in the work block from the old one and the text it
// was given, and only then stores it: so the text may be a view of any line, this one too.

Status Document::SetLine(int i, std::string_view text) {
  int n = Usable(text, lsize_ - 1);
  if (n > 0) std::memcpy(work_, text.data(), n);
  return Marked(Store(i, n), i);
}

// Both rooms are had before either line is written; `b` waits in the work block, since it may
// be a view of line i, and `a` may be one of line j, which is written last.
Status Document::SetLines(int i, std::string_view a, int j, std::string_view b) {
  if (i == j) return SetLine(j, b);
  int na = Usable(a, lsize_ - 1);
  int nb = Usable(b, lsize_ - 1);
  if (Status s = Extend(std::max(i, j) + 1); !s.ok()) return s;
  char* room_a = nullptr;
  char* room_b = nullptr;
  if (Status s = Room(i, na, room_a); !s.ok()) return s;
  if (Status s = Room(j, nb, room_b); !s.ok()) {
    if (room_a != At(i).text) std::free(room_a);
    return s;
  }
  if (nb > 0) std::memcpy(work_, b.data(), nb);
  Place(i, room_a, a.data(), na);
  Place(j, room_b, work_, nb);
  Mark(i, 1, 1);
  Mark(j, 1, 1);
  return Counted(0);
}

// Puts a line together in the work block: the first `head` bytes of `old`, spaces up to column
// `at` where they end before it, then as much of `text` as fits from `at`. Returns the bytes of
// `text` used.
int Document::Compose(std::string_view old, int head, int at, std::string_view text) {
  int n = Usable(text, lsize_ - 1 - at);
  if (head > 0) std::memcpy(work_, old.data(), head);
  if (head < at) std::memset(work_ + head, ' ', at - head);
  if (n > 0) std::memcpy(work_ + at, text.data(), n);
  return n;
}

Status Document::WriteAt(int i, int column, std::string_view text) {
  std::string_view old = Bytes(i);
  int at = std::min(column, lsize_ - 1);
  int kept = static_cast<int>(old.size());
  int n = Compose(old, kept, at, text);
  return Marked(Store(i, std::max(kept, at + n)), i);
}

//   "abcdef" InsertAt(2, "XY"):  head "ab", then "XY", then the tail "cdef" as far as it fits
Status Document::InsertAt(int i, int column, std::string_view text) {
  std::string_view old = Bytes(i);
  int at = std::min(column, lsize_ - 1);
  int head = std::min(static_cast<int>(old.size()), at);
  int n = Compose(old, head, at, text);
  int tail = std::min(static_cast<int>(old.size()) - head, lsize_ - 1 - at - n);
  if (tail > 0) std::memcpy(work_ + at + n, old.data() + head, tail);
  return Marked(Store(i, at + n + tail), i);
}

// Removing bytes never needs memory: the line shrinks where it is.
void Document::CutAt(int i, int column, int count) {
  ++changes_;
  Mark(i, 1, 1);
  if (i >= count_ || column < 0 || count <= 0) return;
  LineRecord& r = At(i);
  if (column >= r.length) return;
  int cut = std::min(count, r.length - column);
  std::memmove(r.text + column, r.text + column + cut, r.length - column - cut);
  r.length -= cut;
  if (r.length == 0) Release(r);
}

void Document::Truncate(int i, int column) {
  ++changes_;
  Mark(i, 1, 1);
  if (i >= count_) return;
  LineRecord& r = At(i);
  if (column <= 0) {
    Release(r);
  } else if (column < r.length) {
    r.length = column;
  }
}

// Lines at or after the extent are all empty, so a shift only moves the records from `line`
// to the extent, and only as far as the gap is from `line`. The index room and the text's
// block are had before anything moves, and the text is copied first: it may be a view of the
// last line, which falls out.
Status Document::OpenLine(int line, std::string_view text) {
  if (line >= count_) return SetLine(line, text);  // everything from here down is empty
  bool full = count_ == lines_;
  if (!full && gapsize_ == 0) {
    if (Status s = GrowIndex(std::min(lines_, std::max(cap_ * 2, 16))); !s.ok()) return s;
  }
  int n = Usable(text, lsize_ - 1);
  char* block = n > 0 ? NewBlock(n) : nullptr;
  if (n > 0 && block == nullptr) return ENOMEM;
  if (n > 0) std::memcpy(block, text.data(), n);
  if (full && line == lines_ - 1) {
    Release(At(line));
    At(line) = {block, n};
    Mark(line, 1, 1);
    return Counted(0);
  }
  // The last line's text falls out of the grid, which frees its record.
  if (full) Erase(lines_ - 1);
  InsertEmpty(line);
  At(line) = {block, n};
  Mark(line, 0, 1);
  return Counted(0);
}

void Document::RemoveLine(int line) {
  ++changes_;
  Mark(line, 1, 0);
  if (line < count_) Erase(line);
}

Status Document::AskAhead(int line) {
  // Records up to `line` after the last one, and one more to open a line with.
  int need = std::max(count_, std::min(line + 1, lines_)) + 1 + (gap_ < count_ ? gapsize_ : 0);
  if (need > cap_ && !GrowIndex(std::max(need, std::min(lines_, cap_ * 2))).ok()) {
    if (Status s = GrowIndex(need); !s.ok()) return s;
  }
  for (char*& spare : spare_) {
    if (spare == nullptr) spare = static_cast<char*>(std::malloc(static_cast<std::size_t>(lsize_)));
    if (spare == nullptr) return ENOMEM;
  }
  return 0;
}

void Document::Clear() {
  ReleaseAll();
  ++changes_;
  MarkWhole();
}

bool Document::CheckInvariant() const {
  if (lines_ <= 0 || count_ < 0 || count_ > lines_ || gap_ < 0 || gap_ > count_ || gapsize_ < 0 ||
      count_ + gapsize_ > cap_ || (gap_ == count_ && count_ + gapsize_ != cap_)) {
    return false;
  }
  // Each line's bytes: within its slot's length, no NUL, in no other line.
  std::vector<std::pair<const char*, const char*>> spans;
  for (int i = 0; i < count_; ++i) {
    const LineRecord& r = At(i);
    if (r.length < 0 || r.length >= lsize_ || (r.text == nullptr && r.length != 0)) return false;
    // A line that a save writes out as it lies is in the load block, its newline after it.
    if (r.length == r.ended &&
        (r.text == nullptr || Owned(r.text) ||
         !std::less<const char*>()(r.text + r.length, block_ + block_size_) ||
         r.text[r.length] != '\n')) {
      return false;
    }
    // Only the load block holds empty lines in place.
    if (r.length == 0 && r.text != nullptr && Owned(r.text)) return false;
    if (r.length == 0) continue;
    if (std::memchr(r.text, '\0', r.length) != nullptr) return false;
    if (!Owned(r.text) && r.text + r.length > block_ + block_size_) return false;
    spans.emplace_back(r.text, r.text + r.length);
  }
  std::sort(spans.begin(), spans.end(), std::less<>());
  for (std::size_t k = 1; k < spans.size(); ++k) {
    if (std::less<const char*>()(spans[k].first, spans[k - 1].second)) return false;
  }
  return true;
}

int DocLength(const Document& doc) {
  for (int i = doc.extent() - 1; i > 0; --i) {
    if (!doc.text(i).empty()) return i;
  }
  return 0;
}

std::ostream& operator<<(std::ostream& out, const LineView& view) {
  return out << view.view();
}
