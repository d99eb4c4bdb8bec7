#include "core/document.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

Document::~Document() {
  std::free(base_);
  std::free(shift_);
}

bool Document::Allocate(int lines, int lsize) {
  if (lines <= 0 || lsize < 2) return false;
  if (static_cast<long long>(lines) * lsize > INT_MAX) return false;
  // calloc hands out pages that are mapped on first touch, so a large grid holding a small
  // document stays small.
  char* base = static_cast<char*>(std::calloc(static_cast<std::size_t>(lines), lsize));
  int* shift = static_cast<int*>(std::calloc(static_cast<std::size_t>(lines), sizeof(int)));
  if (base == nullptr || shift == nullptr) {
    std::free(base);
    std::free(shift);
    return false;
  }
  std::free(base_);
  std::free(shift_);
  base_ = base;
  shift_ = shift;
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
  // Every slot is empty afterwards, so the table can go back to naming each line's own slot.
  for (int i = 0; i < extent_; ++i) {
    ZeroLine(Physical(i));
    shift_[i] = 0;
  }
  extent_ = 0;
}

bool Document::CheckInvariant() const {
  if (extent_ < 0 || extent_ > lines_) return false;
  std::vector<bool> seen(lines_, false);
  for (int i = 0; i < lines_; ++i) {
    int p = Physical(i);
    if (p < 0 || p >= lines_ || seen[p]) return false;
    seen[p] = true;
    if (i >= extent_ && p != i) return false;
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
  int recycled = doc.Physical(last);
  if (last == doc.lines_ - 1) doc.ZeroLine(recycled);
  for (int i = last; i > line; --i) doc.SetPhysical(i, doc.Physical(i - 1));
  doc.SetPhysical(line, recycled);
  doc.extent_ = last + 1;
}

void Delete(int line, Document& doc) {
  if (line >= doc.extent_) return;
  // The freed slot goes to the end of the extent, which therefore stays where it is: entries
  // past the extent must keep naming their own slot.
  int freed = doc.Physical(line);
  doc.ZeroLine(freed);
  int last = doc.extent_ - 1;
  for (int i = line; i < last; ++i) doc.SetPhysical(i, doc.Physical(i + 1));
  doc.SetPhysical(last, freed);
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

void PadToCursor(std::span<char> slot, int position) {
  int len = LineLength(slot);
  if (len < position) std::memset(slot.data() + len, ' ', position - len);
}
