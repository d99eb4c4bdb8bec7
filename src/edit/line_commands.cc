#include "edit/line_commands.h"

#include "core/editor.h"
#include "core/messages.h"
#include "edit/text_entry.h"
#include "edit/undo.h"

void Clear(int line, Document& doc) {
  ZeroFrom(doc.slot(line), 0);
}

void Trim(int line, int position, Document& doc) {
  if (position >= doc.lsize()) return;
  ZeroFrom(doc.slot(line), position);
}

void Copy(int source, int destination, Document& doc) {
  CopySlot(doc.view(source), doc.slot(destination));
}

// Copying a line onto itself and then emptying the source would lose it, so a move onto the
// same line is left as it is.
void Move(int source, int destination, Document& doc) {
  if (source == destination) return;
  Copy(source, destination, doc);
  Clear(source, doc);
}

namespace {

// Asks for a 1-based destination line and gives it 0-based; false when the command must stop
// (end of input, or a line outside the grid, refused with `invalid`).
bool ReadDestination(Editor& ed, const char* prompt, const char* invalid, int& destination) {
  Print(ed.io, prompt, ed.cursor_line + 1);
  int number = 0;
  if (!ReadNumber(ed.io, ed.numeric, number)) return false;
  destination = number - 1;  // seven characters cannot reach the int limits
  if (destination < 0 || destination >= ed.lines()) {
    Line(ed.io, invalid);
    return false;
  }
  return true;
}

// Saves the cursor line and `destination` for undo modes 4 to 6.
void RecordPairUndo(Editor& ed, int destination, int mode) {
  UndoState& u = ed.undo;
  StoreDoubleUndo(ed.cursor_line, destination, u.first.get(), u.second.get(), ed.doc);
  u.source_line = ed.cursor_line;
  u.destination_line = destination;
  u.mode = mode;
}

}  // namespace

void LineClear(Editor& ed) {
  RecordLineUndo(ed);
  Clear(ed.cursor_line, ed.doc);
}

void TrimEnd(Editor& ed) {
  RecordLineUndo(ed);
  Trim(ed.cursor_line, ed.cursor_pos, ed.doc);
}

// Splits the cursor line c at the cursor p and puts the cut-off tail in front of line c + 1:
//
//   before:  c: abc|def     c+1: xyz
//   after:   c: abc         c+1: defxyz     (cursor on c+1, column 0)
//
// When c + 1 has no room for the whole tail, only what fits goes over (CheckInsert says so)
// and the rest is dropped with the tail; undo brings both lines back. On the last slot there
// is no next line and nothing happens at all.
void TrimWrap(Editor& ed) {
  int c = ed.cursor_line;
  int p = ed.cursor_pos;
  if (c >= ed.lines() - 1) return;
  RecordPairUndo(ed, c + 1, 6);
  // The tail is read in place: Insert writes only to line c + 1, a different slot.
  std::span<const char> slot = ed.doc.view(c);
  const char* tail = LengthFrom(slot, p) > 0 ? slot.data() + p : "";
  int& count = ed.insert_length;
  if (CheckInsert(c + 1, 0, count, tail, ed.doc, ed.io)) Insert(c + 1, 0, count, tail, ed.doc);
  Trim(c, p, ed.doc);
  ed.cursor_line = c + 1;
  ed.cursor_pos = 0;
}

void LineMove(Editor& ed) {
  int d = 0;
  if (!ReadDestination(ed, msg::kMovePrompt, msg::kMoveBadDestination, d)) return;
  RecordPairUndo(ed, d, 4);
  Move(ed.cursor_line, d, ed.doc);
}

void LineCopy(Editor& ed) {
  int d = 0;
  if (!ReadDestination(ed, msg::kCopyLinePrompt, msg::kCopyBadDestination, d)) return;
  RecordPairUndo(ed, d, 5);
  Copy(ed.cursor_line, d, ed.doc);
}

// Opens an empty line at the cursor line c; undo (mode 2) deletes it again.
//
//   before:           A B [C] D E      (5 slots, E on the last one)
//   line_insert:      A B [_] C D      E falls out of the grid
//   undo:             A B [C] D _      E does not come back
//
// Nothing is saved because only the last slot is lost, and undo could not put it back anyway.
void LineInsert(Editor& ed) {
  Wedge(ed.cursor_line, ed.doc);
  ed.undo.wedge_line = ed.cursor_line;
  ed.undo.mode = 2;
}

// Removes the cursor line c and closes the gap; undo (mode 3) wedges it back in.
//
//   before:           A B [C] D E
//   line_delete:      A B [D] E _      the last slot becomes empty
//   undo:             A B [C] D E      every slot back, the last one included
void LineDelete(Editor& ed) {
  int c = ed.cursor_line;
  StoreUndo(c, ed.undo.undo_line, ed.undo.first.get(), ed.doc);
  Delete(c, ed.doc);
  ed.undo.deleted_line = c;
  ed.undo.mode = 3;
}
