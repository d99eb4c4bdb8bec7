// Commands on whole lines, or on the part of the cursor line after the cursor: clear, trim,
// split onto the next line, move, copy, open (wedge) and delete. Each handler records its own
// undo mode; the workers change slots unconditionally and keep every slot's zero tail.
#pragma once

#include "core/document.h"

struct Editor;

/// Empties `line`.
void Clear(int line, Document& doc);
/// Cuts `line` off at `position` (nothing when `position` is at or past the slot's end).
void Trim(int line, int position, Document& doc);
/// Whole-slot copy of `source` onto `destination`.
void Copy(int source, int destination, Document& doc);
/// Puts the text of `source` on `destination` and empties `source`; a move onto the same line
/// leaves it as it is.
void Move(int source, int destination, Document& doc);

void LineClear(Editor& ed);
void LineMove(Editor& ed);
void LineInsert(Editor& ed);
void LineDelete(Editor& ed);
void LineCopy(Editor& ed);
void TrimEnd(Editor& ed);
void TrimWrap(Editor& ed);
