#include "edit/undo.h"

#include "core/editor.h"

namespace {

std::span<char> Copy(char* copy, const Document& doc) {
  return {copy, static_cast<std::size_t>(doc.lsize())};
}

}  // namespace

void StoreUndo(int line, int& index, char* copy, const Document& doc) {
  index = line;
  CopySlot(doc.slot(line), Copy(copy, doc));
}

void RecallUndo(int line, const char* copy, Document& doc) {
  CopySlot({copy, static_cast<std::size_t>(doc.lsize())}, doc.slot(line));
}

void StoreDoubleUndo(int first, int second, char* copy1, char* copy2, const Document& doc) {
  if (second < 0 || second >= doc.lines()) return;
  CopySlot(doc.slot(first), Copy(copy1, doc));
  CopySlot(doc.slot(second), Copy(copy2, doc));
}

void RecordLineUndo(Editor& ed) {
  StoreUndo(ed.cursor_line, ed.undo.undo_line, ed.undo.first.get(), ed.doc);
  ed.undo.mode = 1;
}

void Undo(Editor& ed) {
  UndoState& u = ed.undo;
  switch (u.mode) {
    case 1:
      RecallUndo(u.undo_line, u.first.get(), ed.doc);
      ed.cursor_line = u.undo_line;
      break;
    case 2:
      Delete(u.wedge_line, ed.doc);
      ed.cursor_line = u.wedge_line;
      break;
    case 3:
      Wedge(u.deleted_line, ed.doc);
      RecallUndo(u.deleted_line, u.first.get(), ed.doc);
      ed.cursor_line = u.deleted_line;
      break;
    case 4:
    case 6:
      RecallUndo(u.source_line, u.first.get(), ed.doc);
      RecallUndo(u.destination_line, u.second.get(), ed.doc);
      ed.cursor_line = u.source_line;
      break;
    case 5:
      RecallUndo(u.destination_line, u.second.get(), ed.doc);
      ed.cursor_line = u.source_line;
      break;
    default:
      return;
  }
  u.mode = 0;
}
