// The document grid: `lines` line slots of `lsize` bytes each, allocated once and never resized.
// Owns the bytes, the line index table and the document's extent; the editing code decides
// what to write, this file only says where a line lives.
//
// Every slot holds one NUL-terminated line of at most lsize - 1 characters followed only by
// zeros (the zero tail). Writers may rely on it: text written without a terminator ends where
// the old zeros begin.
#pragma once

#include <cstddef>
#include <span>

/// Tells the system that a large block is about to be written whole, so that it is mapped in
/// huge pages where it can be: filling it then costs far fewer page faults. Harmless anywhere.
void ExpectFullUse(void* block, std::size_t size);

class Document {
 public:
  Document() = default;
  ~Document();
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  /// Allocates a zero-filled grid. Returns false when lines * lsize does not fit in a signed
  /// 32-bit product or the memory cannot be had; the document is then left unallocated.
  bool Allocate(int lines, int lsize);
  bool allocated() const { return base_ != nullptr; }
  /// Gives the grid back; the document is then unallocated.
  void Free();

  int lines() const { return lines_; }
  int lsize() const { return lsize_; }

  /// The bytes of line i (0 <= i < lines). The mutable form is for writers: it widens the
  /// extent to cover line i, so nothing written through it can be missed by a scan.
  std::span<char> slot(int i);
  std::span<const char> slot(int i) const;
  /// Read-only view of line i without widening the extent, for use through a mutable Document.
  std::span<const char> view(int i) const { return slot(i); }

  /// Lines at or after extent() are empty. An upper bound, not the exact length.
  int extent() const { return extent_; }

  /// Empties every line (costs in proportion to the extent, not the grid).
  void Clear();

  /// Lines 0 to count - 1 are about to be filled after Clear(): their slots are written whole,
  /// so they may be mapped in huge pages.
  void ExpectFill(int count) {
    ExpectFullUse(base_, static_cast<std::size_t>(count) * static_cast<std::size_t>(lsize_));
  }

  /// Checks the zero-tail rule on every slot and that the index table is a permutation of the
  /// lines it has touched. For tests and fuzzers; returns false on the first breach.
  bool CheckInvariant() const;

  friend void Wedge(int line, Document& doc);
  friend void Delete(int line, Document& doc);

 private:
  // Line i lives in physical slot table_[i] for i < table_size_ and in slot i beyond: the
  // table grows with the document, so a large grid holding a small document stays small.
  // Rotating table entries moves whole lines without moving their bytes.
  int Physical(int i) const { return i < table_size_ ? table_[i] : i; }
  void GrowTable(int size);
  void Rotate(int first, int last, bool down);
  char* Bytes(int physical) const { return base_ + static_cast<std::ptrdiff_t>(physical) * lsize_; }
  void ZeroLine(int physical);

  char* base_ = nullptr;
  int* table_ = nullptr;  // room for `lines` entries, used up to table_size_
  int table_size_ = 0;
  int lines_ = 0;
  int lsize_ = 0;
  int extent_ = 0;
};

/// Index of the last line that holds text; 0 when none does (and when only line 0 does).
int DocLength(const Document& doc);

/// Opens an empty line at `line`; every later line moves down one and the text of the last
/// line falls out of the grid.
///
///   before: A B C D E        (last slot holds E)
///   Wedge(1): A _ B C D      E is gone; a Wedge on the last slot just empties it
void Wedge(int line, Document& doc);

/// Removes `line`; every later line moves up one and the last line becomes empty.
///
///   before: A B C D E
///   Delete(1): A C D E _
void Delete(int line, Document& doc);

/// Whole-slot copy: the destination ends up holding the source's line and zeros after it.
void CopySlot(std::span<const char> from, std::span<char> to);

/// Zeroes a slot from column `from` to its end (whole slot for 0).
void ZeroFrom(std::span<char> slot, int from);

/// Length of the line held in a slot (bytes before the first NUL, at most the slot's size).
int LineLength(std::span<const char> slot);

/// Characters of a slot's line from `column` to its end; 0 when the column is at or beyond
/// the end of the line.
int LengthFrom(std::span<const char> slot, int column);

/// Pad to cursor: a line shorter than `position` is filled with spaces up to column
/// position - 1. Requires position < slot.size().
void PadToCursor(std::span<char> slot, int position);
