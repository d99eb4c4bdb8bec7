// The one-line clipboard ("memory"): copy, cut, paste over and insert at the cursor (the
// insert is Insert, in edit/text_entry.h). Each edit is one function: its check, its undo
// record, its change and its outcome. Nothing here prints: the caller tells the user why, from
// what the outcome says.
#pragma once

#include "core/document.h"
#include "core/pos.h"
#include "edit/undo.h"

/// What a clipboard edit decided.
enum class [[nodiscard]] ClipCheck {
  kGo,         // done with the count asked for
  kShortened,  // done with the lowered count
  kNothing,    // refused: there is no text there (to copy, to cut, or to paste)
  kTooLong,    // refused: a cut beyond the rest of the line's room; the count is that room
};

/// What became of a clipboard edit.
struct [[nodiscard]] Clipped {
  ClipCheck check;
  int count;               // the characters copied, cut or pasted
  bool no_memory = false;  // a paste refused: the document could not get memory for it
};

/// Puts `count` characters of the line from `at` in `clip` (lsize bytes), as many as there
/// are; refuses when there are none.
Clipped Copy(const Document& doc, Pos at, int count, char* clip);
/// Moves `count` characters of the line from `at` to `clip`, as many as there are; keeps
/// `keep` first. Refuses a count beyond the line's room from `at`, or nothing to cut.
Clipped Cut(Document& doc, Pos at, int count, char* clip, const Keep& keep);
/// Pads the line up to `at`, then overwrites from there with as much of `clip` as fits; keeps
/// `keep` first. Refuses an empty clipboard. With `at` on the last column, the line is only
/// padded.
Clipped Paste(Document& doc, Pos at, const char* clip, const Keep& keep);
