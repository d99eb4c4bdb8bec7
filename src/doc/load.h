// Reading a file into the grid: the file read, and the splitting of the text into line slots.
// The splitting works on plain bytes and knows no files. Nothing here prints or asks: the
// counts go back to the caller, which reports them. Writing documents back is doc/save.h.
#pragma once

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>

#include "core/document.h"
#include "core/fd.h"
#include "core/status.h"

/// How a text divides into line slots.
struct LineCount {
  int lines = 0;           // lines found: never more than the grid has slots
  std::size_t loaded = 0;  // bytes of the text that those lines cover
  bool partial = false;    // some of the text belongs to no line (the grid is full, or a NUL
                           // byte ended the text early)
  int splits = 0;          // lines that ended because they were too long
};

/// The text of a file's bytes: the final newline dropped (a last byte that is no newline is
/// kept), and cut at the first NUL byte.
std::string_view TextOf(std::string_view bytes);

/// The length the text of a file's bytes has when no NUL byte cuts it: the bytes less a final
/// newline.
std::size_t UncutLength(std::string_view bytes);

/// Finds the bytes that end a line or a text, newlines and NUL bytes, 64 bytes at a time: the
/// text is read once however many calls it takes.
class LineEnds {
 public:
  explicit LineEnds(std::string_view text) : text_(text) {}
  /// The first newline or NUL byte at or after `from`, or the text's size when there is none.
  std::size_t Next(std::size_t from);

 private:
  std::uint64_t Mask(std::size_t at) const;

  std::string_view text_;
  std::size_t base_ = 1;    // the first byte that mask_ covers: a multiple of 64 once set
  std::uint64_t mask_ = 0;  // bit k set: byte base_ + k ends a line
};

inline std::uint64_t LineEnds::Mask(std::size_t at) const {
  const char* bytes = text_.data() + at;
  std::size_t n = std::min<std::size_t>(64, text_.size() - at);
  std::uint64_t mask = 0;
  // A file just read lies mostly outside the caches: its bytes are asked for ahead of the scan.
  constexpr std::size_t kAhead = 2048;
  if (text_.size() - at > kAhead) __builtin_prefetch(bytes + kAhead);
#ifdef __SSE2__
  if (n == 64) {
    const __m128i newline = _mm_set1_epi8('\n');
    const __m128i nul = _mm_setzero_si128();
    for (int k = 0; k < 4; ++k) {
      __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * k));
      __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(chunk, newline), _mm_cmpeq_epi8(chunk, nul));
      mask |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(hit)))
              << (16 * k);
    }
    return mask;
  }
#endif
  for (std::size_t k = 0; k < n; ++k) {
    if (bytes[k] == '\n' || bytes[k] == '\0') mask |= std::uint64_t{1} << k;
  }
  return mask;
}

inline std::size_t LineEnds::Next(std::size_t from) {
  const std::size_t size = text_.size();
  if (from >= size) return size;
  if (std::size_t block = from & ~std::size_t{63}; block != base_) {
    base_ = block;
    mask_ = Mask(block);
  }
  std::uint64_t left = mask_ & (~std::uint64_t{0} << (from - base_));
  while (left == 0) {
    base_ += 64;
    if (base_ >= size) return size;
    mask_ = left = Mask(base_);
  }
  return base_ + static_cast<std::size_t>(std::countr_zero(left));
}

/// The one rule that splits `text` into at most `lines` lines of at most `lsize` - 1
/// characters. Calls emit(index, start, length, split) for each line in order, `split` when the
/// line ended because its slot was full (the next line then begins with the byte that did not
/// fit). A newline ends a line and belongs to none; a line of exactly lsize - 1 characters
/// followed by a newline is not split. The last line may end with the text, which ends at its
/// first NUL byte: what follows belongs to no line. The text is read once.
///
///   lsize 4, text "abcdef\ngh":  "abc" (split) | "def" (newline) | "gh" (end of text)
template <typename Emit>
LineCount WalkLines(std::string_view text, int lines, int lsize, Emit emit) {
  const std::size_t room = static_cast<std::size_t>(lsize) - 1;
  const std::size_t size = text.size();
  std::size_t end = size;  // moves back to a NUL byte once one is found
  LineEnds ends(text);
  LineCount count;
  // The next newline at or after `from`, or the end of the text. Searched again only once a
  // line has passed it, so a long line is not scanned once per piece.
  auto next_newline = [&](std::size_t from) {
    std::size_t at = ends.Next(from);
    if (at < size && text[at] == '\0') end = at;
    return at;
  };
  std::size_t start = 0;
  std::size_t newline = next_newline(0);
  while (start < end && count.lines < lines) {
    if (newline < start) {
      newline = next_newline(start);
      // A NUL byte right after the newline that ended the last line ends the text there.
      if (start == end) break;
    }
    std::size_t length = newline - start;
    if (length > room) {
      emit(count.lines, start, room, true);
      start += room;
      ++count.splits;
    } else {
      emit(count.lines, start, length, false);
      start = newline < end ? newline + 1 : end;
    }
    ++count.lines;
  }
  count.loaded = start;
  count.partial = start < size;
  return count;
}

/// When the lines `count` that WalkLines found in a file's `bytes` less a final newline (the
/// first UncutLength bytes) leave some of them out (the grid filled up before the text ended,
/// or a NUL byte cut the text), the share of those bytes that they hold, in percent; nothing
/// when they hold the whole text.
std::optional<float> PartialShare(std::string_view bytes, const LineCount& count);

/// Splits `text` as WalkLines does into `incoming`: the lines point into the text, which is
/// not copied. Fails with ENOMEM when the memory for the index cannot be had.
Status PrepareLines(std::string_view text, int lines, int lsize, Document::Incoming& incoming,
                    LineCount& count);

/// Opens a file for reading. Fails with EINTR when a signal the
/// editor acts on (core/signals.h) has come, before or while the open waits (a FIFO without a
/// writer); other interrupted opens are tried again.
Status OpenToRead(const char* name, Fd& fd);

/// Reads an open file whole into `block` (which it allocates): the size is taken by seeking,
/// and a file that cannot seek (a pipe, a FIFO) is read to its end. Fails with EINTR when a signal
/// the editor acts on has come, before or during any of its steps (other interrupted steps are
/// tried again); the read is then given up and what was read is of no use.
Status ReadAll(int fd, Block& block, std::size_t& size);
