// Putting new text into a line: overwriting at the cursor (text entry, the default action for
// any input that is no command) and inserting (`new_insert`, and the insertion check and
// worker that the clipboard and `trim_wrap` share). Nothing here prints: the results say what
// happened, and the caller tells the user.
#pragma once

#include <string_view>

#include "core/document.h"

/// What became of a text entry.
enum class Entry {
  kWritten,      // the whole text is on the line
  kShortened,    // written, but what did not fit was dropped (or the text came shortened)
  kInvalidLine,  // refused: the line lies outside the grid
  kAtEndOfLine,  // refused: the cursor is on the last column
  kNoMemory,     // refused: the document could not get memory for the change
};

/// Overwrites `line` from `position` with `text`, padding a shorter line with spaces first.
/// Refuses a line outside the grid or the last column; drops what does not fit (kShortened,
/// also when the text was `shortened` before it came here).
Entry Replace(int line, int position, const char* text, Document& doc, bool shortened = false);

/// How much of a text goes into a line at a column, and why not all of it.
struct InsertFit {
  int count = 0;           // characters to insert; nothing is inserted when 0
  bool past_end = false;   // some would reach past the line's last column
  bool line_full = false;  // some would make the line longer than its limit
};

/// How many characters of `text` may be inserted into `line` at `position`.
InsertFit CheckInsert(int line, int position, std::string_view text, const Document& doc);

/// Inserts the first `count` characters of `text` at `position`, moving the rest of the line
/// right. `count` must come from CheckInsert. False when the document refused the change for
/// want of memory.
bool Insert(int line, int position, int count, std::string_view text, Document& doc);
