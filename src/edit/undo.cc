#include "edit/undo.h"

#include <algorithm>
#include <cstring>

namespace {

// Keeps the text of `line` in `copy` (lsize bytes), with a NUL after it.
void Keep(char* copy, int line, const Document& doc) {
  LineView text = doc.text(line);
  if (!text.empty()) std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
}

}  // namespace

void RecordLine(UndoState& undo, int line, const Document& doc) {
  undo.line = line;
  Keep(undo.first.get(), line, doc);
  undo.mode = UndoMode::kLine;
}

void RecordWedge(UndoState& undo, int line) {
  undo.line = line;
  undo.mode = UndoMode::kWedge;
}

void RecordDelete(UndoState& undo, int line, const Document& doc) {
  RecordLine(undo, line, doc);
  undo.mode = UndoMode::kDelete;
}

void RecordPair(UndoState& undo, UndoMode mode, int source, int destination, const Document& doc) {
  if (destination >= 0 && destination < doc.lines()) {
    Keep(undo.first.get(), source, doc);
    Keep(undo.second.get(), destination, doc);
  }
  undo.line = source;
  undo.other = destination;
  undo.mode = mode;
}

void ForgetUndo(UndoState& undo) {
  undo.mode = UndoMode::kNone;
}

int UndoReach(const UndoState& undo) {
  bool pair =
      undo.mode == UndoMode::kMove || undo.mode == UndoMode::kCopy || undo.mode == UndoMode::kWrap;
  return pair ? std::max(undo.line, undo.other) : undo.line;
}

Undone ApplyUndo(UndoState& undo, Document& doc) {
  bool done = true;
  switch (undo.mode) {
    case UndoMode::kNone:
      return Undone::kNothing;
    case UndoMode::kLine:
      done = doc.SetLine(undo.line, undo.first.get());
      break;
    case UndoMode::kWedge:
      doc.RemoveLine(undo.line);
      break;
    case UndoMode::kDelete:
      done = doc.OpenLine(undo.line) && doc.SetLine(undo.line, undo.first.get());
      break;
    case UndoMode::kMove:
    case UndoMode::kWrap:
      done = doc.SetLine(undo.line, undo.first.get()) && doc.SetLine(undo.other, undo.second.get());
      break;
    case UndoMode::kCopy:
      done = doc.SetLine(undo.other, undo.second.get());
      break;
  }
  undo.mode = UndoMode::kNone;
  return done ? Undone::kRestored : Undone::kNoMemory;
}
