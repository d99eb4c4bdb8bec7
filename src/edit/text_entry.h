// Putting new text into a line: overwriting at the cursor (text entry, the default action for
// any input that is no command), inserting (`new_insert` and the clipboard's insert) and
// sending a line's tail to the next line (`trim_wrap`). Each edit is one function: its check,
// its undo record, its change and its outcome. Nothing here prints: the outcome says what
// happened, and the caller tells the user.
#pragma once

#include <string_view>

#include "core/document.h"
#include "core/pos.h"
#include "edit/undo.h"

/// What became of a text entry.
enum class [[nodiscard]] Entry {
  kWritten,      // the whole text is on the line
  kShortened,    // written, but what did not fit was dropped (or the text came shortened)
  kInvalidLine,  // refused: the line lies outside the grid
  kAtEndOfLine,  // refused: the cursor is on the last column
  kNoMemory,     // refused: the document could not get memory for the change
};

/// Keeps `keep`, then overwrites the line from `at` with `text`, padding a shorter line with
/// spaces first. Refuses a line outside the grid or the last column; drops what does not fit
/// (kShortened, also when the text was `shortened` before it came here).
Entry Replace(Document& doc, Pos at, std::string_view text, bool shortened, const Keep& keep);

/// What became of an insertion, and why not all of the text went in.
struct [[nodiscard]] Inserted {
  int count = 0;           // characters inserted (or that would have been, when no_memory)
  bool past_end = false;   // some would have reached past the line's last column
  bool line_full = false;  // some would have made the line longer than its limit
  bool no_memory = false;  // refused: the document could not get memory for the change
  bool done = false;       // the edit was carried out
};

/// Inserts as much of `text` as fits into the line at `at`, moving the rest of the line right;
/// keeps `keep` first, unless nothing at all fits (then nothing changes).
///
///   "abcdef" at column 2 with "XY" -> "abXYcdef"; a line shorter than the column is padded
Inserted Insert(Document& doc, Pos at, std::string_view text, const Keep& keep);

/// Splits the line at `at` and puts the cut-off tail in front of the next line, as much of it
/// as fits there (the rest is dropped with the tail); keeps `keep` first. On the last line
/// nothing happens at all; when the next line cannot get the memory, the line keeps its tail.
///
///   before:  c: abc|def     c+1: xyz
///   after:   c: abc         c+1: defxyz
Inserted Wrap(Document& doc, Pos at, const Keep& keep);
