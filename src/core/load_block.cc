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

Status Document::Incoming::MakeRoom(int capacity) {
  return GrowRecords(index_, cap_, capacity);
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
  // The text that the lines were found in may stop short of the block by the file's last
  // newline, which then follows the last line.
  if (count_ > 0) {
    LineRecord& last = index_[count_ - 1];
    std::size_t after = static_cast<std::size_t>(last.text + last.length - block_);
    if (last.ended < 0 && after < size && block_[after] == '\n') last.ended = last.length;
  }
  ++changes_;
  MarkWhole();
}

LineView Document::LoadedRun(int i, int last, int& next) const {
  int stop = std::min(last + 1, count_);
  next = i;
  if (i >= stop) return {};
  const char* start = At(i).text;
  const char* end = start;  // just past the last newline taken
  // A line continues the run when its text begins where the run ends and the newline that
  // followed it in the file still does (the line kept the length it was loaded with). The
  // records are gone through as they lie, on each side of the gap.
  while (next < stop) {
    int upto = next < gap_ ? std::min(stop, gap_) : stop;
    const LineRecord* r = index_ + Physical(next);
    int j = next;
    for (; j < upto && r->text == end && r->length == r->ended; ++j, ++r) {
      end += r->length + 1;
    }
    next = j;
    if (j < upto) break;
  }
  if (end == start) return {};
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
