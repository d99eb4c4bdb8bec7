#include "edit/undo.h"

namespace {

std::span<char> Copy(char* copy, const Document& doc) {
  return {copy, static_cast<std::size_t>(doc.lsize())};
}

void Recall(int line, const char* copy, Document& doc) {
  CopySlot({copy, static_cast<std::size_t>(doc.lsize())}, doc.slot(line));
}

}  // namespace

void RecordLine(UndoState& undo, int line, const Document& doc) {
  undo.line = line;
  CopySlot(doc.slot(line), Copy(undo.first.get(), doc));
  undo.mode = UndoMode::kLine;
  ++undo.records;
}

void RecordWedge(UndoState& undo, int line) {
  undo.line = line;
  undo.mode = UndoMode::kWedge;
  ++undo.records;
}

void RecordDelete(UndoState& undo, int line, const Document& doc) {
  RecordLine(undo, line, doc);
  undo.mode = UndoMode::kDelete;
}

void RecordPair(UndoState& undo, UndoMode mode, int source, int destination, const Document& doc) {
  if (destination >= 0 && destination < doc.lines()) {
    CopySlot(doc.slot(source), Copy(undo.first.get(), doc));
    CopySlot(doc.slot(destination), Copy(undo.second.get(), doc));
  }
  undo.line = source;
  undo.other = destination;
  undo.mode = mode;
  ++undo.records;
}

void ForgetUndo(UndoState& undo) {
  undo.mode = UndoMode::kNone;
}

int ApplyUndo(UndoState& undo, Document& doc) {
  switch (undo.mode) {
    case UndoMode::kNone:
      return -1;
    case UndoMode::kLine:
      Recall(undo.line, undo.first.get(), doc);
      break;
    case UndoMode::kWedge:
      Delete(undo.line, doc);
      break;
    case UndoMode::kDelete:
      Wedge(undo.line, doc);
      Recall(undo.line, undo.first.get(), doc);
      break;
    case UndoMode::kMove:
    case UndoMode::kWrap:
      Recall(undo.line, undo.first.get(), doc);
      Recall(undo.other, undo.second.get(), doc);
      break;
    case UndoMode::kCopy:
      Recall(undo.other, undo.second.get(), doc);
      break;
  }
  undo.mode = UndoMode::kNone;
  ++undo.records;
  return undo.line;
}
