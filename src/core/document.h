// The document: `lines` lines of text, as every command sees them. Owns the lines' bytes, the
// line index and the document's extent; the editing code decides what to write, and the
// changes below keep the grid's rules whatever it writes:
//
//   - a line holds at most lsize - 1 bytes and no NUL: text handed to a change ends at its
//     first NUL, and what would pass the limit is dropped;
//   - writing at a column past a line's end first fills the line with spaces up to it;
//   - nothing lies past a line's end: what a change removes is gone.
//
// Reading: text(i) is a view of line i's bytes (a LineView). It stays valid until the document
// next changes (a change below carried out, a load, Clear, or Free, which all count as
// changes), and builds with assertions check that on every use of the view. Text handed to a
// change may be a view of any line of this document: it is read before anything is written.
//
// Changing: each change below that is carried out adds one to changes(), whether or not a
// byte differs, so that the editor can tell whether the document changed since it was saved.
// A change gets the memory it needs itself, before it writes anything: one that cannot get it
// returns ENOMEM and leaves every line, and the count, as they were. Those that need none
// cannot fail and return nothing.
//
// Inside, a line takes only the bytes of its text. Lines read from a file stay where the read
// put them, in the load block that the document keeps; a line grown since then lives in a
// block of its own. The index holds one record (where, how long) per line up to the extent,
// with a gap at the place last edited, so that opening or removing a line near the cursor
// moves few records.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string_view>

#include "core/status.h"

#ifndef NDEBUG
#include <cassert>
#endif

/// Tells the system that a large block is about to be written whole, so that it is mapped in
/// huge pages where it can be: filling it then costs far fewer page faults. Harmless anywhere.
void ExpectFullUse(void* block, std::size_t size);

/// A block from malloc, freed with free.
using Block = std::unique_ptr<char, decltype(&std::free)>;

/// One line in the index: where its text is and how long it is (null and 0 when empty), and
/// `ended`, the length at which the newline that followed it in the file follows it in the load
/// block (-1 for a line that no such newline follows, or that lives elsewhere). A line whose
/// length is `ended` is written out as it lies, newline and all.
struct LineRecord {
  char* text;
  int length;
  int ended = -1;
};

/// The document's count of changes as it stood when taken. In builds with assertions, Check()
/// fails once the document has changed since; in builds without, it holds and checks nothing.
/// Every view of the document's bytes carries one.
class Edition {
 public:
  Edition() = default;  // of no document: never out of date
  void Check() const {
#ifndef NDEBUG
    assert((changes_ == nullptr || *changes_ == taken_) &&
           "a view of the document was used after the document changed");
#endif
  }

 private:
  friend class Document;
#ifdef NDEBUG
  explicit Edition(const std::uint64_t*) {}
#else
  explicit Edition(const std::uint64_t* changes) : changes_(changes), taken_(*changes) {}
  const std::uint64_t* changes_ = nullptr;  // the document's count of changes
  std::uint64_t taken_ = 0;                 // that count when the edition was taken
#endif
};

/// A view of a line's bytes (see the top of this file for how long it lasts), checked on every
/// use. It has no implicit conversion to std::string_view: view() gives one, checked then and
/// not after, for code that hands the bytes on at once.
class LineView {
 public:
  static constexpr std::size_t npos = std::string_view::npos;
  LineView() = default;  // the empty text, of no document

  std::string_view view() const {
    edition_.Check();
    return text_;
  }
  const char* data() const { return view().data(); }
  std::size_t size() const { return view().size(); }
  std::size_t length() const { return size(); }
  bool empty() const { return view().empty(); }
  const char* begin() const { return data(); }
  const char* end() const { return data() + size(); }
  char operator[](std::size_t k) const { return view()[k]; }
  LineView substr(std::size_t pos, std::size_t count = npos) const {
    return {view().substr(pos, count), edition_};
  }
  std::size_t find(std::string_view needle, std::size_t from = 0) const {
    return view().find(needle, from);
  }
  std::size_t rfind(std::string_view needle, std::size_t from = npos) const {
    return view().rfind(needle, from);
  }
  bool starts_with(std::string_view prefix) const { return view().starts_with(prefix); }
  bool ends_with(std::string_view suffix) const { return view().ends_with(suffix); }
  friend bool operator==(const LineView& a, std::string_view b) { return a.view() == b; }

 private:
  friend class Document;
  LineView(std::string_view text, Edition edition) : text_(text), edition_(edition) {}

  std::string_view text_;
  [[no_unique_address]] Edition edition_;
};
std::ostream& operator<<(std::ostream& out, const LineView& view);

class Document {
 public:
  Document() = default;
  ~Document();
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  /// Sets up an empty document of `lines` lines of at most lsize - 1 bytes. Returns ok; EINVAL
  /// when lines * lsize does not fit in a signed 32-bit product (or a size is too small), or
  /// ENOMEM when a block of that size could not be had (as a grid of that size would be
  /// refused); the document is then left unallocated.
  Status Allocate(int lines, int lsize);
  bool allocated() const { return work_ != nullptr; }
  /// Gives everything back; the document is then unallocated. Counts as a change.
  void Free();

  int lines() const { return lines_; }
  int lsize() const { return lsize_; }

  /// The bytes of line i (0 <= i < lines), without a line end; empty past the extent.
  LineView text(int i) const { return {Bytes(i), edition()}; }

  /// The written form (each line and a newline) of lines i, i + 1, ... up to `last`, as far as
  /// it lies unbroken in the load block: loaded lines that kept their length, and the newlines
  /// that followed them in the file. `next` receives the first line not covered; the run is
  /// empty when line i is no such line. Valid until the document next changes.
  LineView LoadedRun(int i, int last, int& next) const;

  /// Lines at or after extent() are empty. An upper bound, not the exact length.
  int extent() const { return count_; }

  /// How many changes were carried out (the changes below, loads and clears) since the start.
  std::uint64_t changes() const { return changes_; }
  /// The document as it stands now, for code that keeps a view of it other than a LineView.
  Edition edition() const { return Edition(&changes_); }

  /// What the changes since the last TakeChange did, as one splice: the old lines from `from`
  /// on, `removed` of them, gave way to the lines now at `from` .. `from + added - 1`, and every
  /// later line moved by added - removed (lines moved past the grid fell out of it, and lines
  /// that came in at its end are empty: those from `blank` on, where lines that fell out of
  /// the grid would otherwise come back). `whole` after a load, a clear or a free: every line
  /// may differ. Costs nothing to keep: a few numbers per change.
  struct Change {
    bool any = false;
    bool whole = false;
    int from = 0;
    int removed = 0;
    int added = 0;
    int blank = 0;
  };
  /// The change since the last call, which starts a new one.
  Change TakeChange();

  // The changes. Every line number lies in 0 .. lines - 1; a column may lie anywhere from 0 on
  // (one past the last column, lsize - 1, counts as that column).

  /// Line i holds `text` (as much of it as fits).
  Status SetLine(int i, std::string_view text);
  Status SetLine(int i, LineView text) { return SetLine(i, text.view()); }
  /// Lines i and j hold `a` and `b`, in one change: both or neither. When i is j, the line
  /// holds `b`.
  Status SetLines(int i, std::string_view a, int j, std::string_view b);
  /// Writes `text` over line i from `column`, padding the line with spaces up to the column
  /// first; what would pass the last column is dropped. An empty text only pads.
  ///
  ///   "abcdef" WriteAt(2, "XY") -> "abXYef"      "ab" WriteAt(4, "XY") -> "ab  XY"
  Status WriteAt(int i, int column, std::string_view text);
  Status WriteAt(int i, int column, LineView text) { return WriteAt(i, column, text.view()); }
  /// Puts `text` into line i at `column` and moves the rest of the line right, padding the line
  /// with spaces up to the column first; what would pass the last column falls off the end.
  ///
  ///   "abcdef" InsertAt(2, "XY") -> "abXYcdef"
  Status InsertAt(int i, int column, std::string_view text);
  Status InsertAt(int i, int column, LineView text) { return InsertAt(i, column, text.view()); }
  /// Removes `count` bytes of line i from `column` (those there are) and moves the rest left.
  ///
  ///   "abcdef" CutAt(1, 2) -> "adef"
  void CutAt(int i, int column, int count);
  /// Cuts line i off at `column`: it keeps the bytes before it (none at column 0).
  void Truncate(int i, int column);
  /// Opens a line holding `text` (empty when none is given) at `line`; every later line moves
  /// down one and the text of the last line falls out of the grid.
  ///
  ///   before: A B C D E        (the last line holds E)
  ///   OpenLine(1): A _ B C D   E is gone; OpenLine on the last line just replaces it
  Status OpenLine(int line, std::string_view text = {});
  /// Removes `line`; every later line moves up one and the last line becomes empty.
  ///
  ///   before: A B C D E
  ///   RemoveLine(1): A C D E _
  void RemoveLine(int line);
  /// Empties every line.
  void Clear();

  /// Asks, ahead of a command, for the memory that a change up to `line` may need: index room
  /// for every line up to `line` and one more, and two spare blocks of lsize bytes that a
  /// change takes when the system has no block for it. Returns ok, or ENOMEM (nothing changes
  /// then). Changes need not wait for it: it only lets a command whose change would find no
  /// memory be refused before it starts.
  Status AskAhead(int line);

  /// The lines of a load in the making, appended in order: each is a run of bytes in the block
  /// that the load read (no copy is made). The document takes them whole or not at all.
  class Incoming {
   public:
    Incoming() = default;
    ~Incoming() { std::free(index_); }
    Incoming(const Incoming&) = delete;
    Incoming& operator=(const Incoming&) = delete;
    /// Room for `capacity` lines in all, had at once so that the index need not grow while
    /// the lines are added. Returns ok, or ENOMEM (the index is then as it was).
    Status MakeRoom(int capacity);
    /// Appends a line of `length` bytes at `text`, `ended` when a newline follows it there.
    /// Returns ok, or ENOMEM.
    Status Add(const char* text, int length, bool ended) {
      if (count_ == cap_) {
        if (Status s = MakeRoom(std::max(cap_ * 2, 1024)); !s.ok()) return s;
      }
      // An empty line keeps its place too (at its newline), so that a run of loaded lines can
      // be written out as it lies in the block.
      index_[count_++] = {const_cast<char*>(text), length, ended ? length : -1};
      return 0;
    }
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

  /// Checks that every line's text fits the limit and holds no NUL, that no two lines share
  /// bytes and that the index is consistent. For tests and fuzzers; returns false on the first
  /// breach.
  bool CheckInvariant() const;

 private:
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
  std::string_view Bytes(int i) const {
    if (i >= count_) return {};
    const LineRecord& r = At(i);
    return {r.text, static_cast<std::size_t>(r.length)};
  }
  int Usable(std::string_view text, int room) const;
  int Compose(std::string_view old, int head, int at, std::string_view text);
  char* NewBlock(int length);
  Status Room(int i, int length, char*& room);
  void Place(int i, char* room, const char* text, int length);
  // Whether `text` lies in a block of its own rather than in the load block.
  bool Owned(const char* text) const {
    std::less<const char*> before;
    return text != nullptr && (before(text, block_) || !before(text, block_ + block_size_));
  }
  Status GrowIndex(int capacity);
  // Grows the table `index` of `cap` records to `capacity` (never shrinks it). Returns 0, or
  // ENOMEM (the table is then as it was).
  static Status GrowRecords(LineRecord*& index, int& cap, int capacity);
  void MoveGap(int to);
  Status Extend(int count);
  void InsertEmpty(int line);
  void Erase(int line);
  void Release(LineRecord& record);
  void ReleaseAll();
  char* TakeSpare();
  Status Store(int i, int length);
  Status Counted(Status done) {
    if (done.ok()) ++changes_;
    return done;
  }
  // Adds to the change record: at line `at` of the document as it was, `removed` lines gave
  // way to `added` lines.
  void Mark(int at, int removed, int added);
  void MarkWhole() { touched_.any = touched_.whole = true; }
  Status Marked(Status done, int at) {
    if (done.ok()) Mark(at, 1, 1);
    return Counted(done);
  }

  char* work_ = nullptr;  // lsize bytes where a change puts a line together
  char* spare_[2] = {nullptr, nullptr};
  LineRecord* index_ = nullptr;
  int cap_ = 0;
  int count_ = 0;  // lines with a record; every later line is empty
  int gap_ = 0;
  int gapsize_ = 0;
  char* block_ = nullptr;  // the load block, where loaded lines keep their text
  bool grown_ = false;     // a line may have a block of its own: one was had since the last clear
  std::size_t block_size_ = 0;
  int lines_ = 0;
  int lsize_ = 0;
  std::uint64_t changes_ = 0;
  // The change record: lines [from, new_end) now stand where [from, old_end) stood.
  struct Touched {
    bool any = false;
    bool whole = false;
    int from = 0;
    int new_end = 0;
    int old_end = 0;
    int lost = 0;  // the old lines from here on fell out of the grid
  } touched_;
};

/// Index of the last line that holds text; 0 when none does (and when only line 0 does).
int DocLength(const Document& doc);
