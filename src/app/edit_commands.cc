#include "app/edit_commands.h"

#include <algorithm>
#include <cstring>

#include "app/editor.h"
#include "app/messages.h"
#include "app/reads.h"
#include "edit/clipboard.h"
#include "edit/line_commands.h"
#include "edit/text_entry.h"
#include "edit/undo.h"

namespace {

// Replaces the clipboard with `count` characters of the cursor line from the cursor.
// The checks keep count within the line's text, so the copy stays inside both buffers.
void FillClip(Editor& ed, int count) {
  std::span<const char> slot = ed.doc.view(ed.cursor_line);
  std::memcpy(ed.clip.get(), slot.data() + ed.cursor_pos, count);
  ed.clip[count] = '\0';
}

// Reads the count of a copy or cut; false when the command must stop here (end of input, or a
// negative count, which has no meaning for either and is refused before any other check).
bool ReadCount(Editor& ed, const char* prompt, const char* negative, int& count) {
  Line(ed.io, prompt);
  if (!IsLine(ReadNumber(ed, count))) return false;
  if (count < 0) {
    Print(ed.io, "%s", negative);
    return false;
  }
  return true;
}

// Asks for a 1-based destination line and gives it 0-based; false when the command must stop
// (end of input, or a line outside the grid, refused with `invalid`).
bool ReadDestination(Editor& ed, const char* prompt, const char* invalid, int& destination) {
  Print(ed.io, prompt, ed.cursor_line + 1);
  int number = 0;
  if (!IsLine(ReadNumber(ed, number))) return false;
  destination = number - 1;  // seven characters cannot reach the int limits
  if (destination < 0 || destination >= ed.lines()) {
    Line(ed.io, invalid);
    return false;
  }
  if (!ed.doc.Reserve(destination)) {
    Print(ed.io, "%s", msg::kNoMemoryForChange);
    return false;
  }
  return true;
}

void RecordCursorLine(Editor& ed) {
  RecordLine(ed.undo, ed.cursor_line, ed.doc);
}

}  // namespace

void TextEntry(Editor& ed, const char* text, bool shortened) {
  RecordCursorLine(ed);
  Replace(ed.cursor_line, ed.cursor_pos, text, ed.doc, ed.io, shortened);
  if (ed.cursor_line < ed.lines() - 1 && ed.line_lock == 0) ++ed.cursor_line;
}

void NewInsert(Editor& ed) {
  Line(ed.io, msg::kInsertPrompt);
  char* answer = ed.insert_input.get();
  if (!IsLine(ReadAnswer(ed, answer, ed.lsize()))) return;
  int count = 0;
  if (!CheckInsert(ed.cursor_line, ed.cursor_pos, count, answer, ed.doc, ed.io)) return;
  RecordCursorLine(ed);
  Insert(ed.cursor_line, ed.cursor_pos, count, answer, ed.doc);
}

void ClipCopy(Editor& ed) {
  int count = 0;
  if (!ReadCount(ed, msg::kCopyPrompt, msg::kCopyNegative, count)) return;
  if (CheckCopy(ed.cursor_line, ed.cursor_pos, count, ed.doc, ed.io)) FillClip(ed, count);
}

void ClipCut(Editor& ed) {
  int count = 0;
  if (!ReadCount(ed, msg::kCutPrompt, msg::kCutNegative, count)) return;
  if (CheckCut(ed.cursor_line, ed.cursor_pos, count, ed.doc, ed.io)) {
    RecordCursorLine(ed);
    FillClip(ed, count);
    Cut(ed.cursor_line, ed.cursor_pos, count, ed.doc);
  }
}

void ClipPaste(Editor& ed) {
  int count = 0;
  if (CheckPaste(ed.cursor_pos, count, ed.clip.get(), ed.lsize(), ed.io)) {
    RecordCursorLine(ed);
    Paste(ed.cursor_line, ed.cursor_pos, count, ed.clip.get(), ed.doc);
  }
}

// The empty clipboard is refused here: the insertion check would refuse it silently.
void ClipInsert(Editor& ed) {
  if (ed.clip[0] == '\0') return Line(ed.io, msg::kNothingToPaste);
  int count = 0;
  if (CheckInsert(ed.cursor_line, ed.cursor_pos, count, ed.clip.get(), ed.doc, ed.io)) {
    RecordCursorLine(ed);
    Insert(ed.cursor_line, ed.cursor_pos, count, ed.clip.get(), ed.doc);
  }
}

void LineClear(Editor& ed) {
  RecordCursorLine(ed);
  Clear(ed.cursor_line, ed.doc);
}

void TrimEnd(Editor& ed) {
  RecordCursorLine(ed);
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
  RecordPair(ed.undo, UndoMode::kWrap, c, c + 1, ed.doc);
  // The tail is read in place: Insert writes only to line c + 1, a different slot.
  std::span<const char> slot = ed.doc.view(c);
  const char* tail = LengthFrom(slot, p) > 0 ? slot.data() + p : "";
  int count = 0;
  if (CheckInsert(c + 1, 0, count, tail, ed.doc, ed.io)) Insert(c + 1, 0, count, tail, ed.doc);
  Trim(c, p, ed.doc);
  ed.cursor_line = c + 1;
  ed.cursor_pos = 0;
}

void LineMove(Editor& ed) {
  int d = 0;
  if (!ReadDestination(ed, msg::kMovePrompt, msg::kMoveBadDestination, d)) return;
  RecordPair(ed.undo, UndoMode::kMove, ed.cursor_line, d, ed.doc);
  Move(ed.cursor_line, d, ed.doc);
}

void LineCopy(Editor& ed) {
  int d = 0;
  if (!ReadDestination(ed, msg::kCopyLinePrompt, msg::kCopyBadDestination, d)) return;
  RecordPair(ed.undo, UndoMode::kCopy, ed.cursor_line, d, ed.doc);
  Copy(ed.cursor_line, d, ed.doc);
}

// Opens an empty line at the cursor line c; undo deletes it again.
//
//   before:           A B [C] D E _
//   line_insert:      A B [_] C D E    (6 slots, the last one empty)
//   undo:             A B [C] D E
//
// A last line that holds text would fall out of the grid, so the command is then refused.
void LineInsert(Editor& ed) {
  if (!ed.doc.text(ed.lines() - 1).empty()) return Print(ed.io, "%s", msg::kNoRoomForLine);
  RecordWedge(ed.undo, ed.cursor_line);
  Wedge(ed.cursor_line, ed.doc);
}

// Removes the cursor line c and closes the gap; undo wedges it back in.
//
//   before:           A B [C] D E
//   line_delete:      A B [D] E _      the last slot becomes empty
//   undo:             A B [C] D E      every slot back, the last one included
void LineDelete(Editor& ed) {
  RecordDelete(ed.undo, ed.cursor_line, ed.doc);
  Delete(ed.cursor_line, ed.doc);
}

void Undo(Editor& ed) {
  UndoMode mode = ed.undo.mode;
  bool pair = mode == UndoMode::kMove || mode == UndoMode::kCopy || mode == UndoMode::kWrap;
  if (!ed.doc.Reserve(pair ? std::max(ed.undo.line, ed.undo.other) : ed.undo.line)) {
    return Print(ed.io, "%s", msg::kNoMemoryForChange);
  }
  int line = ApplyUndo(ed.undo, ed.doc);
  if (line >= 0) ed.cursor_line = line;
}
