// The document: `lines` line slots of `lsize` bytes each, as every command sees them. Owns the
// lines' bytes, the line index and the document's extent; the editing code decides what to
// write, this file only says where a line lives.
//
// Every slot, as the accessors hand it out, holds one NUL-terminated line of at most lsize - 1
// characters followed only by zeros (the zero tail). Writers may rely on it: text written
// without a terminator ends where the old zeros begin.
//
// Inside, a line takes only the bytes of its text. Lines read from a file stay where the read
// put them, in the load block that the document keeps; a line written since then lives in a
// block of its own. The index holds one record (where, how long) per line up to the extent,
// with a gap at the place last edited, so that opening or removing a line near the cursor
// moves few records. A writer gets the line in a scratch slot of lsize bytes, which goes back
// to the line's storage (Commit) before any other line is handed out for writing, before the
// lines shift, and at the end of every command.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <span>
#include <string_view>

/// Tells the system that a large block is about to be written whole, so that it is mapped in
/// huge pages where it can be: filling it then costs far fewer page faults. Harmless anywhere.
void ExpectFullUse(void* block, std::size_t size);

/// A block from malloc, freed with free.
using Block = std::unique_ptr<char, decltype(&std::free)>;

/// One line in the index: where its text is and how long it is (null and 0 when empty).
struct LineRecord {
  char* text;
  int length;
};

class Document {
 public:
  Document() = default;
  ~Document();
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  /// Sets up an empty document of `lines` slots of `lsize` bytes. Returns false when
  /// lines * lsize does not fit in a signed 32-bit product or a block of that size could not
  /// be had (as a grid of that size would be refused); the document is then left unallocated.
  bool Allocate(int lines, int lsize);
  bool allocated() const { return scratch_ != nullptr; }
  /// Gives everything back; the document is then unallocated.
  void Free();

  int lines() const { return lines_; }
  int lsize() const { return lsize_; }

  /// The slot of line i (0 <= i < lines) for writing: a scratch slot holding the line, which
  /// is stored back when another line is asked for writing, when the lines shift, and at
  /// Commit. It widens the extent to cover line i. Asking again for the same line gives the
  /// same slot with what was written to it.
  std::span<char> slot(int i);
  /// A copy of line i's slot, as it is now (what was written to the scratch slot included).
  /// It stays as it is until three more copies have been asked for: enough for any one step
  /// to hold a line while it reads another.
  std::span<const char> slot(int i) const;
  /// Read-only copy of line i without widening the extent, for use through a mutable Document.
  std::span<const char> view(int i) const { return slot(i); }
  /// The text of line i without a copy, for scans of the whole document: valid until the
  /// next write to the document.
  std::string_view text(int i) const;

  /// The written form (each line and a newline) of lines i, i + 1, ... up to `last`, as far as
  /// it lies unbroken in the load block: loaded lines that kept their length, and the newlines
  /// that followed them in the file. `next` receives the first line not covered; the run is
  /// empty when line i is no such line. Valid until the next write.
  std::string_view LoadedRun(int i, int last, int& next) const;

  /// Lines at or after extent() are empty. An upper bound, not the exact length.
  int extent() const { return count_ > pending_ + 1 ? count_ : pending_ + 1; }

  /// Empties every line.
  void Clear();

  /// Stores the line being written back to its storage. False when no memory could be had for
  /// it: the line then keeps the text it had before it was asked for writing.
  bool Commit();

  /// Gets, ahead of a change, the memory that the change may need: index room for every line
  /// up to `line` and one more, and spare room for two lines to grow. False when it cannot be
  /// had (nothing changes then). After it, Commit and the shifts do not fail for want of
  /// memory unless lines beyond `line` are written.
  bool Reserve(int line);

  /// The lines of a load in the making, appended in order: each is a run of bytes in the block
  /// that the load read (no copy is made). The document takes them whole or not at all.
  class Incoming {
   public:
    Incoming() = default;
    ~Incoming() { std::free(index_); }
    Incoming(const Incoming&) = delete;
    Incoming& operator=(const Incoming&) = delete;
    /// Appends a line of `length` bytes at `text`. False when the memory cannot be had.
    bool Add(const char* text, int length);
    int count() const { return count_; }

   private:
    friend class Document;
    LineRecord* index_ = nullptr;
    int cap_ = 0;
    int count_ = 0;
  };

  /// Replaces the document with the lines of `incoming`, whose text lies in `block` (`size`
  /// bytes, which the document keeps from now on: nothing needs copying). Cannot fail.
  void Adopt(Incoming& incoming, Block& block, std::size_t size);

  /// Checks the zero-tail rule on every slot handed out, that every line's text fits its slot
  /// and holds no NUL, that no two lines share bytes and that the index is consistent. For
  /// tests and fuzzers; returns false on the first breach.
  bool CheckInvariant() const;

  friend void Wedge(int line, Document& doc);
  friend void Delete(int line, Document& doc);

 private:
  static constexpr int kCopies = 4;

  // Logical line i (< count_) is record Physical(i): a gap of gapsize_ unused records sits
  // before logical line gap_, and what follows the last line is unused too. With the gap at
  // the end (or empty) every unused record belongs to the gap.
  int Physical(int i) const { return i < gap_ ? i : i + gapsize_; }
  void Normalize() {
    if (gapsize_ == 0 || gap_ >= count_) {
      gap_ = count_;
      gapsize_ = cap_ - count_;
    }
  }
  LineRecord& At(int i) { return index_[Physical(i)]; }
  const LineRecord& At(int i) const { return index_[Physical(i)]; }
  bool Owned(const char* text) const;
  bool GrowIndex(int capacity);
  void MoveGap(int to);
  bool Extend(int count);
  bool InsertEmpty(int line);
  void Erase(int line);
  void Release(LineRecord& record);
  void ReleaseAll();
  char* TakeSpare();
  void Fill(char* slot, std::string_view text) const;

  char* scratch_ = nullptr;  // the slot being written: lsize bytes
  char* copies_ = nullptr;   // kCopies read-only copies of lsize bytes each
  mutable int next_copy_ = 0;
  char* spare_[2] = {nullptr, nullptr};
  LineRecord* index_ = nullptr;
  int cap_ = 0;
  int count_ = 0;  // lines with a record; every later line is empty
  int gap_ = 0;
  int gapsize_ = 0;
  int pending_ = -1;       // the line in the scratch slot, or -1
  char* block_ = nullptr;  // the load block, where loaded lines keep their text
  std::size_t block_size_ = 0;
  int lines_ = 0;
  int lsize_ = 0;
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
