// The one-level undo record: what the last edit destroyed, and how to put it back. Editing
// commands record through the functions below, before they change the document; nothing else
// writes the record.
#pragma once

#include <memory>

#include "core/document.h"

enum class UndoMode {
  kNone,    // nothing to undo
  kLine,    // one line's old text: restore it
  kWedge,   // an empty line opened: remove it again
  kDelete,  // a line removed: open it again with its text
  kMove,    // a line moved: restore source and destination
  kCopy,    // a line copied: restore the destination
  kWrap,    // a line's tail sent to the next line: restore both
};

struct UndoState {
  UndoMode mode = UndoMode::kNone;
  int line = 0;   // the line restored, opened or removed; the source of a two-line record
  int other = 0;  // the destination of a two-line record
  // Room for two lines, had at start-up so that recording never asks for memory: the text of
  // `line` and of `other`, each ending with a NUL (lsize bytes each).
  std::unique_ptr<char[]> first;
  std::unique_ptr<char[]> second;
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

/// The last line that undoing the record changes: the line to Reserve before ApplyUndo.
int UndoReach(const UndoState& undo);

/// What ApplyUndo did.
enum class Undone {
  kRestored,  // the record is put back; the cursor goes to undo.line
  kNothing,   // there was nothing to undo
  kNoMemory,  // the document refused a change for want of memory (only when the lines up to
              // UndoReach were not reserved): what was put back stays
};

/// Puts back what the record holds and empties it.
Undone ApplyUndo(UndoState& undo, Document& doc);
