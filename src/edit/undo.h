// The one-level undo record: what the last edit destroyed, and how to put it back. Editing
// commands record through the functions below, before they change the document; nothing else
// writes the record.
#pragma once

#include <memory>

#include "core/document.h"

enum class UndoMode {
  kNone,    // nothing to undo
  kLine,    // one line's old text: restore it
  kWedge,   // an empty line opened: delete it again
  kDelete,  // a line removed: wedge it back in with its text
  kMove,    // a line moved: restore source and destination
  kCopy,    // a line copied: restore the destination
  kWrap,    // a line's tail sent to the next line: restore both
};

struct UndoState {
  UndoMode mode = UndoMode::kNone;
  unsigned records = 0;  // counts every record made, so that a caller can tell an edit happened
  int line = 0;          // the line restored, opened or removed; the source of a two-line record
  int other = 0;         // the destination of a two-line record
  std::unique_ptr<char[]> first;   // lsize bytes: the text of `line`
  std::unique_ptr<char[]> second;  // lsize bytes: the text of `other`
};

/// `line` is about to change: keep its text.
void RecordLine(UndoState& undo, int line, const Document& doc);
/// An empty line is about to be opened at `line`.
void RecordWedge(UndoState& undo, int line);
/// `line` is about to be removed: keep its text.
void RecordDelete(UndoState& undo, int line, const Document& doc);
/// `source` and `destination` are about to change together (kMove, kCopy or kWrap). A
/// destination outside the grid keeps the old copies, as nothing there can change.
void RecordPair(UndoState& undo, UndoMode mode, int source, int destination, const Document& doc);
/// Nothing is left to undo.
void ForgetUndo(UndoState& undo);

/// Puts back what the record holds and empties it. Returns the line the cursor goes to, or -1
/// when there was nothing to undo.
int ApplyUndo(UndoState& undo, Document& doc);
