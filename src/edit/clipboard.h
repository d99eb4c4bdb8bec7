// The one-line clipboard ("memory"): copy, cut, paste over and insert at the cursor.
// Each operation that may refuse or shorten is a check, which says what it decided and may
// lower the count, and a worker that changes the line without asking. Nothing here prints: the
// caller tells the user why, from what the check returns.
#pragma once

#include "core/document.h"

/// What a clipboard check decided.
enum class ClipCheck {
  kGo,         // go ahead with the count asked for
  kShortened,  // go ahead with the lowered count
  kNothing,    // refused: there is no text there (to copy, to cut, or to paste)
  kTooLong,    // refused: a cut beyond the rest of the line's room; the count is set to that room
};

/// Lowers `count` to the text left from `position`; refuses when there is none.
ClipCheck CheckCopy(int line, int position, int& count, const Document& doc);
/// Refuses a count beyond the line's room from `position`, or nothing to cut; lowers `count`
/// to the text left.
ClipCheck CheckCut(int line, int position, int& count, const Document& doc);
/// Removes `count` characters at `position`. `count` must come from CheckCut.
void Cut(int line, int position, int count, Document& doc);
/// Sets `count` to how much of `text` fits from `position`; refuses an empty text. A count of
/// 0 (cursor on the last column) still goes ahead: the line is then only padded.
ClipCheck CheckPaste(int position, int& count, const char* text, int lsize);
/// Pads the line to `position`, then overwrites from there with the first `count` characters of
/// `text`. `count` must come from CheckPaste. False when the document refused the change for
/// want of memory.
bool Paste(int line, int position, int count, const char* text, Document& doc);
