#include "core/document.h"

#include <sys/mman.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

Document::~Document() {
  std::free(base_);
  std::free(table_);
}

void Document::Free() {
  std::free(base_);
  std::free(table_);
  base_ = nullptr;
  table_ = nullptr;
  table_size_ = lines_ = lsize_ = extent_ = 0;
}

bool Document::Allocate(int lines, int lsize) {
  if (lines <= 0 || lsize < 2) return false;
  if (static_cast<long long>(lines) * lsize > INT_MAX) return false;
  // calloc hands out pages that are mapped on first touch, so a large grid holding a small
  // document stays small.
  char* base = static_cast<char*>(std::calloc(static_cast<std::size_t>(lines), lsize));
  // Only the part of the table that the document reaches is ever written.
  int* table = static_cast<int*>(std::malloc(static_cast<std::size_t>(lines) * sizeof(int)));
  if (base == nullptr || table == nullptr) {
    std::free(base);
    std::free(table);
    return false;
  }
  std::free(base_);
  std::free(table_);
  base_ = base;
  table_ = table;
  table_size_ = 0;
  lines_ = lines;
  lsize_ = lsize;
  extent_ = 0;
  return true;
}

std::span<char> Document::slot(int i) {
  if (i >= extent_) extent_ = i + 1;
  return {Bytes(Physical(i)), static_cast<std::size_t>(lsize_)};
}

std::span<const char> Document::slot(int i) const {
  return {Bytes(Physical(i)), static_cast<std::size_t>(lsize_)};
}

void Document::ZeroLine(int physical) {
  // The zero tail means only the text itself needs clearing; an untouched slot stays unmapped.
  char* bytes = Bytes(physical);
  std::memset(bytes, 0, strnlen(bytes, lsize_));
}

void Document::Clear() {
  for (int i = 0; i < extent_; ++i) ZeroLine(Physical(i));
  // Every slot is empty now, so every line may go back to its own slot.
  table_size_ = 0;
  extent_ = 0;
}

void Document::GrowTable(int size) {
  for (; table_size_ < size; ++table_size_) table_[table_size_] = table_size_;
}

// Moves the table entries first..last one place: down (towards the end) or up. The entry that
// falls off one end comes back in at the other.
void Document::Rotate(int first, int last, bool down) {
  GrowTable(last + 1);
  int* at = table_ + first;
  std::size_t count = static_cast<std::size_t>(last - first);
  if (down) {
    int recycled = at[count];
    std::memmove(at + 1, at, count * sizeof(int));
    at[0] = recycled;
  } else {
    int recycled = at[0];
    std::memmove(at, at + 1, count * sizeof(int));
    at[count] = recycled;
  }
}

bool Document::CheckInvariant() const {
  if (extent_ < 0 || extent_ > lines_ || table_size_ < 0 || table_size_ > lines_) return false;
  std::vector<bool> seen(lines_, false);
  for (int i = 0; i < lines_; ++i) {
    int p = Physical(i);
    if (p < 0 || p >= lines_ || seen[p]) return false;
    seen[p] = true;
    const char* bytes = Bytes(p);
    int len = static_cast<int>(strnlen(bytes, lsize_));
    if (len >= lsize_) return false;
    for (int c = len; c < lsize_; ++c) {
      if (bytes[c] != 0) return false;
    }
    if (i >= extent_ && len != 0) return false;
  }
  return true;
}

int DocLength(const Document& doc) {
  for (int i = doc.extent() - 1; i > 0; --i) {
    if (doc.slot(i)[0] != '\0') return i;
  }
  return 0;
}

// Lines at or after the extent are all empty, so a shift only needs to rotate the table
// entries from `line` to the extent: the empty slot just past the extent (or, with a full
// grid, the last slot, whose text falls out) is recycled as the new empty line.
void Wedge(int line, Document& doc) {
  if (line >= doc.extent_) return;  // everything from here down is empty already
  int last = std::min(doc.extent_, doc.lines_ - 1);
  if (last == doc.lines_ - 1) doc.ZeroLine(doc.Physical(last));
  doc.Rotate(line, last, true);
  doc.extent_ = last + 1;
}

void Delete(int line, Document& doc) {
  if (line >= doc.extent_) return;
  // The emptied slot moves to the end of the extent, which then shrinks by one.
  doc.ZeroLine(doc.Physical(line));
  doc.Rotate(line, doc.extent_ - 1, false);
  --doc.extent_;
}

void CopySlot(std::span<const char> from, std::span<char> to) {
  int len = LineLength(from);
  int old = LineLength(to);
  std::memmove(to.data(), from.data(), len);
  std::memset(to.data() + len, 0, static_cast<std::size_t>(std::max(old, len) - len + 1));
}

void ZeroFrom(std::span<char> slot, int from) {
  int len = LineLength(slot);
  if (from < len) std::memset(slot.data() + from, 0, len - from);
}

int LineLength(std::span<const char> slot) {
  return static_cast<int>(strnlen(slot.data(), slot.size()));
}

int LengthFrom(std::span<const char> slot, int column) {
  int rest = LineLength(slot) - column;
  return rest > 0 ? rest : 0;
}

void PadToCursor(std::span<char> slot, int position) {
  int len = LineLength(slot);
  if (len < position) std::memset(slot.data() + len, ' ', position - len);
}

void ExpectFullUse(void* block, std::size_t size) {
  constexpr std::size_t kHuge = 2u << 20;
  if (size < 2 * kHuge) return;
  auto start = reinterpret_cast<std::uintptr_t>(block);
  std::uintptr_t first = (start + kHuge - 1) & ~(kHuge - 1);
  std::uintptr_t last = (start + size) & ~(kHuge - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}
