// Commands on whole lines, or on the part of the cursor line after the cursor: clear, trim,
// move and copy. The workers change lines unconditionally; those that may need memory return
// false when the document refused the change for want of it.
#pragma once

#include "core/document.h"

/// Empties `line`.
void Clear(int line, Document& doc);
/// Cuts `line` off at `position` (nothing when `position` is at or past its end).
void Trim(int line, int position, Document& doc);
/// Puts the text of `source` on `destination`.
bool Copy(int source, int destination, Document& doc);
/// Puts the text of `source` on `destination` and empties `source`; a move onto the same line
/// leaves it as it is.
bool Move(int source, int destination, Document& doc);
