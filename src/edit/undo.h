// The one-level undo record: what the last edit destroyed, and how to put it back. Each edit
// under edit/ is handed what to keep (a Keep, named by its command) and keeps it once its
// checks pass, just before it changes the document; nothing else writes the record.
#pragma once

#include <memory>

#include "core/bytes.h"
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
  Bytes first;
  Bytes second;
};

/// What an edit keeps for undo: the mode and its line (`other`, the destination, for kMove,
/// kCopy and kWrap). A destination outside the grid keeps the old copies, as nothing there can
/// change.
struct Keep {
  UndoState& undo;
  UndoMode mode;
  int line;
  int other = 0;
};

/// Keeps what `keep` names, as the document holds it now.
void KeepForUndo(const Keep& keep, const Document& doc);
/// Nothing is left to undo.
void ForgetUndo(UndoState& undo);

/// What ApplyUndo did.
enum class [[nodiscard]] Undone {
  kRestored,  // the record is put back; the cursor goes to undo.line
  kNothing,   // there was nothing to undo
  kNoMemory,  // the document could not get the memory to put it back: nothing changed, and
              // the record is gone
};

/// Puts back what the record holds, in one change of the document, and empties it.
Undone ApplyUndo(UndoState& undo, Document& doc);
