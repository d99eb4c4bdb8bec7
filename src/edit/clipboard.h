// The one-line clipboard ("memory"): copy, cut, paste over and insert at the cursor.
// Each operation that may refuse or shorten is a check (prints the one reason, returns 1 to go
// ahead or 0 to refuse, may lower the count) and a worker that changes the line without asking.
#pragma once

#include "core/document.h"
#include "core/io.h"

/// Lowers `count` to the text left from `position`; refuses when there is none.
int CheckCopy(int line, int position, int& count, const Document& doc, Io& io);
/// Refuses a count beyond the slot or nothing to cut; lowers `count` to the text left.
int CheckCut(int line, int position, int& count, const Document& doc, Io& io);
/// Removes `count` characters at `position`, keeping the slot's zero tail. `count` must come
/// from CheckCut.
void Cut(int line, int position, int count, Document& doc);
/// Sets `count` to how much of `text` fits from `position`; refuses an empty text. A count of
/// 0 (cursor on the last column) still goes ahead: the line is then only padded.
int CheckPaste(int position, int& count, const char* text, int lsize, Io& io);
/// Pads the line to `position`, then overwrites from there with the first `count` characters of
/// `text`. `count` must come from CheckPaste.
void Paste(int line, int position, int count, const char* text, Document& doc);
