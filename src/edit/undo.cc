#include "edit/undo.h"

#include <cstring>

namespace {

// Keeps the text of `line` in `copy` (lsize bytes), with a NUL after it.
void KeepText(char* copy, int line, const Document& doc) {
  LineView text = doc.text(line);
  if (!text.empty()) std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
}

bool TwoLines(UndoMode mode) {
  return mode == UndoMode::kMove || mode == UndoMode::kCopy || mode == UndoMode::kWrap;
}

}  // namespace

void KeepForUndo(const Keep& keep, const Document& doc) {
  UndoState& undo = keep.undo;
  if (TwoLines(keep.mode)) {
    if (keep.other >= 0 && keep.other < doc.lines()) {
      KeepText(undo.first.get(), keep.line, doc);
      KeepText(undo.second.get(), keep.other, doc);
    }
  } else if (keep.mode != UndoMode::kWedge && keep.mode != UndoMode::kNone) {
    KeepText(undo.first.get(), keep.line, doc);
  }
  undo.line = keep.line;
  undo.other = keep.other;
  undo.mode = keep.mode;
}

void ForgetUndo(UndoState& undo) {
  undo.mode = UndoMode::kNone;
}

Undone ApplyUndo(UndoState& undo, Document& doc) {
  Status put;
  switch (undo.mode) {
    case UndoMode::kNone:
      return Undone::kNothing;
    case UndoMode::kLine:
      put = doc.SetLine(undo.line, undo.first.get());
      break;
    case UndoMode::kWedge:
      doc.RemoveLine(undo.line);
      break;
    case UndoMode::kDelete:
      put = doc.OpenLine(undo.line, undo.first.get());
      break;
    case UndoMode::kMove:
    case UndoMode::kWrap:
      put = doc.SetLines(undo.line, undo.first.get(), undo.other, undo.second.get());
      break;
    case UndoMode::kCopy:
      put = doc.SetLine(undo.other, undo.second.get());
      break;
  }
  undo.mode = UndoMode::kNone;
  return put.ok() ? Undone::kRestored : Undone::kNoMemory;
}
