#include "core/document.h"

#include <sys/mman.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

Document::~Document() {
  Free();
}

void Document::ReleaseAll() {
  for (int i = 0; i < count_; ++i) Release(At(i));
  std::free(block_);
  block_ = nullptr;
  block_size_ = 0;
  count_ = gap_ = 0;
  gapsize_ = cap_;
  pending_ = -1;
}

void Document::Free() {
  ReleaseAll();
  std::free(index_);
  std::free(scratch_);
  std::free(copies_);
  for (char*& spare : spare_) {
    std::free(spare);
    spare = nullptr;
  }
  index_ = nullptr;
  scratch_ = copies_ = nullptr;
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

bool Document::Allocate(int lines, int lsize) {
  if (lines <= 0 || lsize < 2) return false;
  if (static_cast<long long>(lines) * lsize > INT_MAX) return false;
  std::size_t width = static_cast<std::size_t>(lsize);
  if (!CouldHave(static_cast<std::size_t>(lines) * width)) return false;
  char* scratch = static_cast<char*>(std::calloc(1, width));
  char* copies = static_cast<char*>(std::calloc(kCopies, width));
  if (scratch == nullptr || copies == nullptr) {
    std::free(scratch);
    std::free(copies);
    return false;
  }
  Free();
  scratch_ = scratch;
  copies_ = copies;
  lines_ = lines;
  lsize_ = lsize;
  return true;
}

bool Document::Owned(const char* text) const {
  if (text == nullptr) return false;
  std::less<const char*> before;
  return before(text, block_) || !before(text, block_ + block_size_);
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
bool Document::GrowIndex(int capacity) {
  if (capacity <= cap_) return true;
  auto* grown = static_cast<LineRecord*>(
      std::realloc(index_, static_cast<std::size_t>(capacity) * sizeof(LineRecord)));
  if (grown == nullptr) return false;
  index_ = grown;
  cap_ = capacity;
  Normalize();
  return true;
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
bool Document::Extend(int count) {
  if (count <= count_) return true;
  int shift = gap_ < count_ ? gapsize_ : 0;
  if (count + shift > cap_ &&
      !GrowIndex(std::max(count + shift, std::min(lines_ + shift, cap_ * 2)))) {
    return false;
  }
  for (int i = count_; i < count; ++i) index_[i + shift] = {nullptr, 0};
  if (shift == 0) gap_ = count;  // a gap at the end stays there
  count_ = count;
  Normalize();
  return true;
}

bool Document::InsertEmpty(int line) {
  if (gapsize_ == 0 && !GrowIndex(std::min(lines_, std::max(cap_ * 2, 16)))) return false;
  MoveGap(line);
  index_[line] = {nullptr, 0};
  ++gap_;
  --gapsize_;
  ++count_;
  Normalize();
  return true;
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

void Document::Fill(char* slot, std::string_view text) const {
  std::size_t old = strnlen(slot, lsize_);
  if (!text.empty()) std::memcpy(slot, text.data(), text.size());
  if (old > text.size()) std::memset(slot + text.size(), 0, old - text.size());
  slot[text.size()] = '\0';
}

std::string_view Document::text(int i) const {
  if (i == pending_) return {scratch_, strnlen(scratch_, lsize_)};
  if (i >= count_) return {};
  const LineRecord& r = At(i);
  return {r.text, static_cast<std::size_t>(r.length)};
}

std::span<char> Document::slot(int i) {
  if (i != pending_) {
    Commit();
    Fill(scratch_, text(i));
    pending_ = i;
  }
  return {scratch_, static_cast<std::size_t>(lsize_)};
}

std::span<const char> Document::slot(int i) const {
  char* copy = copies_ + static_cast<std::ptrdiff_t>(next_copy_) * lsize_;
  next_copy_ = (next_copy_ + 1) % kCopies;
  Fill(copy, text(i));
  return {copy, static_cast<std::size_t>(lsize_)};
}

bool Document::Commit() {
  if (pending_ < 0) return true;
  int i = std::exchange(pending_, -1);
  int length = static_cast<int>(strnlen(scratch_, lsize_));
  if (length == 0 && i >= count_) return true;
  if (!Extend(i + 1)) return false;
  LineRecord& r = At(i);
  if (length == 0) {
    Release(r);
  } else if (length <= r.length) {
    // Text that fits where the line is, the load block included, is written over it.
    std::memcpy(r.text, scratch_, length);
    r.length = length;
  } else {
    char* text = static_cast<char*>(std::malloc(static_cast<std::size_t>(length)));
    if (text == nullptr) text = TakeSpare();
    if (text == nullptr) return false;
    std::memcpy(text, scratch_, length);
    Release(r);
    r = {text, length};
  }
  return true;
}

bool Document::Reserve(int line) {
  // Records up to `line` after the last one, and one more to open a line with.
  int need = std::max(count_, std::min(line + 1, lines_)) + 1 + (gap_ < count_ ? gapsize_ : 0);
  if (need > cap_ && !GrowIndex(std::max(need, std::min(lines_, cap_ * 2))) && !GrowIndex(need)) {
    return false;
  }
  for (char*& spare : spare_) {
    if (spare == nullptr) spare = static_cast<char*>(std::malloc(static_cast<std::size_t>(lsize_)));
    if (spare == nullptr) return false;
  }
  return true;
}

void Document::Clear() {
  ReleaseAll();
}

bool Document::Incoming::Add(const char* text, int length) {
  if (count_ == cap_) {
    int capacity = std::max(cap_ * 2, 1024);
    auto* grown = static_cast<LineRecord*>(
        std::realloc(index_, static_cast<std::size_t>(capacity) * sizeof(LineRecord)));
    if (grown == nullptr) return false;
    index_ = grown;
    cap_ = capacity;
  }
  // An empty line keeps its place too (at its newline), so that a run of loaded lines can be
  // written out as it lies in the block.
  index_[count_++] = {const_cast<char*>(text), length};
  return true;
}

void Document::Adopt(Incoming& incoming, Block& block, std::size_t size) {
  ReleaseAll();
  std::free(index_);
  index_ = std::exchange(incoming.index_, nullptr);
  cap_ = std::exchange(incoming.cap_, 0);
  count_ = gap_ = std::exchange(incoming.count_, 0);
  gapsize_ = cap_ - count_;
  block_ = block.release();
  block_size_ = size;
}

bool Document::CheckInvariant() const {
  if (lines_ <= 0 || count_ < 0 || count_ > lines_ || gap_ < 0 || gap_ > count_ || gapsize_ < 0 ||
      count_ + gapsize_ > cap_ || (gap_ == count_ && count_ + gapsize_ != cap_) || pending_ < -1 ||
      pending_ >= lines_) {
    return false;
  }
  auto zero_tail = [this](const char* slot) {
    std::size_t len = strnlen(slot, lsize_);
    if (len >= static_cast<std::size_t>(lsize_)) return false;
    return std::all_of(slot + len, slot + lsize_, [](char c) { return c == 0; });
  };
  if (!zero_tail(scratch_)) return false;
  for (int k = 0; k < kCopies; ++k) {
    if (!zero_tail(copies_ + static_cast<std::ptrdiff_t>(k) * lsize_)) return false;
  }
  // Each line's bytes: within its slot's length, no NUL, in no other line.
  std::vector<std::pair<const char*, const char*>> spans;
  for (int i = 0; i < count_; ++i) {
    const LineRecord& r = At(i);
    if (r.length < 0 || r.length >= lsize_ || (r.text == nullptr && r.length != 0)) return false;
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

std::string_view Document::LoadedRun(int i, int last, int& next) const {
  const char* start = nullptr;
  const char* end = nullptr;
  const char* block_end = block_ + block_size_;
  int j = i;
  for (; j <= last && j < count_ && j != pending_; ++j) {
    const LineRecord& r = At(j);
    if (r.text == nullptr || Owned(r.text) || (start != nullptr && r.text != end)) break;
    const char* newline = r.text + r.length;
    if (newline >= block_end || *newline != '\n') break;
    if (start == nullptr) start = r.text;
    end = newline + 1;
  }
  next = j;
  return start == nullptr ? std::string_view() : std::string_view(start, end - start);
}

int DocLength(const Document& doc) {
  for (int i = doc.extent() - 1; i > 0; --i) {
    if (!doc.text(i).empty()) return i;
  }
  return 0;
}

// Lines at or after the extent are all empty, so a shift only moves the records from `line`
// to the extent, and only as far as the gap is from `line`.
void Wedge(int line, Document& doc) {
  doc.Commit();
  if (line >= doc.count_) return;  // everything from here down is empty already
  if (doc.count_ == doc.lines_) {
    // The last line's text falls out of the grid; a Wedge on the last line just empties it.
    doc.Erase(doc.lines_ - 1);
    if (line == doc.lines_ - 1) return;
  }
  doc.InsertEmpty(line);
}

void Delete(int line, Document& doc) {
  doc.Commit();
  if (line >= doc.count_) return;
  doc.Erase(line);
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
