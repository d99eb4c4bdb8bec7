// The load block: the lines a load brings in, which a document adopts whole without copying
// their text, and the runs of them that a save writes out as they lie.
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string_view>
#include <utility>

#include "core/document.h"

int Document::Incoming::Add(const char* text, int length) {
  if (count_ == cap_) {
    int capacity = std::max(cap_ * 2, 1024);
    auto* grown = static_cast<LineRecord*>(
        std::realloc(index_, static_cast<std::size_t>(capacity) * sizeof(LineRecord)));
    if (grown == nullptr) return ENOMEM;
    index_ = grown;
    cap_ = capacity;
  }
  // An empty line keeps its place too (at its newline), so that a run of loaded lines can be
  // written out as it lies in the block.
  index_[count_++] = {const_cast<char*>(text), length};
  return 0;
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
  ++changes_;
}

LineView Document::LoadedRun(int i, int last, int& next) const {
  const char* start = nullptr;
  const char* end = nullptr;
  const char* block_end = block_ + block_size_;
  int j = i;
  for (; j <= last && j < count_; ++j) {
    const LineRecord& r = At(j);
    if (r.text == nullptr || Owned(r.text) || (start != nullptr && r.text != end)) break;
    const char* newline = r.text + r.length;
    if (newline >= block_end || *newline != '\n') break;
    if (start == nullptr) start = r.text;
    end = newline + 1;
  }
  next = j;
  if (start == nullptr) return {};
  return {std::string_view(start, end - start), edition()};
}

void ExpectFullUse(void* block, std::size_t size) {
  constexpr std::size_t kHuge = 2u << 20;
  if (size < 2 * kHuge) return;
  auto start = reinterpret_cast<std::uintptr_t>(block);
  std::uintptr_t first = (start + kHuge - 1) & ~(kHuge - 1);
  std::uintptr_t last = (start + size) & ~(kHuge - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}
