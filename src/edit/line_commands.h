// Commands on whole lines, or on the part of the cursor line after the cursor: clear, trim,
// move, copy, wedge and delete. Each edit is one function: its check, its undo record (it
// keeps `keep` just before it changes anything), its change and its outcome.
#pragma once

#include "core/document.h"
#include "core/pos.h"
#include "edit/undo.h"

/// What became of an edit of whole lines.
enum class [[nodiscard]] LineEdit {
  kDone,
  kNoRoom,    // refused: a line wedged in would push the last line's text out of the grid
  kNoMemory,  // refused: the document could not get memory for the change
};

/// Empties `line`.
void ClearLine(Document& doc, int line, const Keep& keep);
/// Cuts the line off at `at` (nothing when `at` is at or past its end).
void TrimLine(Document& doc, Pos at, const Keep& keep);
/// Puts the text of `source` on `destination` and empties `source`; a move onto the same line
/// leaves it as it is.
LineEdit MoveLine(Document& doc, int source, int destination, const Keep& keep);
/// Puts the text of `source` on `destination`.
LineEdit CopyLine(Document& doc, int source, int destination, const Keep& keep);
/// Opens an empty line at `line`; refused when the last line holds text, which would fall out.
///
///   before:  A B [C] D E _
///   after:   A B [_] C D E      (6 lines, the last one empty)
LineEdit WedgeLine(Document& doc, int line, const Keep& keep);
/// Removes `line` and closes the gap; the last line becomes empty.
///
///   before:  A B [C] D E
///   after:   A B [D] E _
void DeleteLine(Document& doc, int line, const Keep& keep);
