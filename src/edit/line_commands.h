// Commands on whole lines, or on the part of the cursor line after the cursor: clear, trim,
// move and copy. The workers change slots unconditionally and keep every slot's zero tail.
#pragma once

#include "core/document.h"

/// Empties `line`.
void Clear(int line, Document& doc);
/// Cuts `line` off at `position` (nothing when `position` is at or past the slot's end).
void Trim(int line, int position, Document& doc);
/// Whole-slot copy of `source` onto `destination`.
void Copy(int source, int destination, Document& doc);
/// Puts the text of `source` on `destination` and empties `source`; a move onto the same line
/// leaves it as it is.
void Move(int source, int destination, Document& doc);
