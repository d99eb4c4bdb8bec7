// Putting new text into a line: overwriting at the cursor (text entry, the default action for
// any input that is no command) and inserting (`new_insert`, and the insertion check and
// worker that the clipboard and `trim_wrap` share).
#pragma once

#include "core/document.h"
#include "core/io.h"

/// Overwrites `line` from `position` with `text`, padding a shorter line with spaces first.
/// Refuses ("Invalid Line Number", "At End Of Line") or drops what does not fit ("Text was
/// shortened to fit onto line", said too when the text was `shortened` before it came here);
/// never writes outside the slot.
void Replace(int line, int position, const char* text, Document& doc, Io& io,
             bool shortened = false);

/// How many characters of `text` may be inserted into `line` at `position` (stored in
/// `count`); prints the reason for any shortening. Returns 1 to insert, 0 when nothing fits.
int CheckInsert(int line, int position, int& count, const char* text, const Document& doc, Io& io);

/// Inserts the first `count` characters of `text` at `position`, moving the rest of the line
/// right. `count` must come from CheckInsert.
void Insert(int line, int position, int count, const char* text, Document& doc);
