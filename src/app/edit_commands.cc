#include "app/edit_commands.h"

#include <algorithm>
#include <cstring>
#include <string_view>

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
  LineView text = ed.doc.text(ed.cursor_line);
  if (count > 0) std::memcpy(ed.clip.get(), text.data() + ed.cursor_pos, count);
  ed.clip[count] = '\0';
}

// A change the document refused for want of memory (the reservation before the command makes
// that rare): says so. Returns `done`.
bool Done(Editor& ed, bool done) {
  if (!done) Print(ed.io, "%s", msg::kNoMemoryForChange);
  return done;
}

// What a copy or cut check decided, said; true to go ahead.
bool Decided(Editor& ed, ClipCheck check, int count, const char* shortened, const char* nothing) {
  switch (check) {
    case ClipCheck::kGo:
      return true;
    case ClipCheck::kShortened:
      Print(ed.io, shortened, count);
      return true;
    case ClipCheck::kNothing:
      Line(ed.io, nothing);
      return false;
    case ClipCheck::kTooLong:
      Print(ed.io, msg::kMaxCutSize, count);
      return false;
  }
  return false;
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

void ReportEntry(Io& io, Entry entry) {
  switch (entry) {
    case Entry::kWritten:
      break;
    case Entry::kShortened:
      Print(io, "%s", msg::kTextShortened);
      break;
    case Entry::kInvalidLine:
      Line(io, msg::kInvalidLine);
      break;
    case Entry::kAtEndOfLine:
      Line(io, msg::kAtEndOfLine);
      break;
    case Entry::kNoMemory:
      Print(io, "%s", msg::kNoMemoryForChange);
      break;
  }
}

bool ReportInsert(Io& io, const InsertFit& fit, int lsize) {
  if (fit.past_end) Line(io, msg::kInsertTooLongForPosition);
  if (fit.line_full) Print(io, msg::kInsertLineExceeded, lsize);
  return fit.count > 0;
}

void TextEntry(Editor& ed, const char* text, bool shortened) {
  RecordCursorLine(ed);
  ReportEntry(ed.io, Replace(ed.cursor_line, ed.cursor_pos, text, ed.doc, shortened));
  if (ed.cursor_line < ed.lines() - 1 && ed.line_lock == 0) ++ed.cursor_line;
}

void NewInsert(Editor& ed) {
  Line(ed.io, msg::kInsertPrompt);
  char* answer = ed.insert_input.get();
  if (!IsLine(ReadAnswer(ed, answer, ed.lsize()))) return;
  InsertFit fit = CheckInsert(ed.cursor_line, ed.cursor_pos, answer, ed.doc);
  if (!ReportInsert(ed.io, fit, ed.lsize())) return;
  RecordCursorLine(ed);
  Done(ed, Insert(ed.cursor_line, ed.cursor_pos, fit.count, answer, ed.doc));
}

void ClipCopy(Editor& ed) {
  int count = 0;
  if (!ReadCount(ed, msg::kCopyPrompt, msg::kCopyNegative, count)) return;
  ClipCheck check = CheckCopy(ed.cursor_line, ed.cursor_pos, count, ed.doc);
  if (Decided(ed, check, count, msg::kCopyShortened, msg::kNothingToCopy)) FillClip(ed, count);
}

void ClipCut(Editor& ed) {
  int count = 0;
  if (!ReadCount(ed, msg::kCutPrompt, msg::kCutNegative, count)) return;
  ClipCheck check = CheckCut(ed.cursor_line, ed.cursor_pos, count, ed.doc);
  if (Decided(ed, check, count, msg::kCutShortened, msg::kNothingToCut)) {
    RecordCursorLine(ed);
    FillClip(ed, count);
    Cut(ed.cursor_line, ed.cursor_pos, count, ed.doc);
  }
}

void ClipPaste(Editor& ed) {
  int count = 0;
  ClipCheck check = CheckPaste(ed.cursor_pos, count, ed.clip.get(), ed.lsize());
  if (check == ClipCheck::kNothing) return Line(ed.io, msg::kNothingToPaste);
  if (check == ClipCheck::kShortened) Line(ed.io, msg::kPasteShortened);
  RecordCursorLine(ed);
  Done(ed, Paste(ed.cursor_line, ed.cursor_pos, count, ed.clip.get(), ed.doc));
}

// The empty clipboard is refused here: the insertion check would refuse it silently.
void ClipInsert(Editor& ed) {
  if (ed.clip[0] == '\0') return Line(ed.io, msg::kNothingToPaste);
  InsertFit fit = CheckInsert(ed.cursor_line, ed.cursor_pos, ed.clip.get(), ed.doc);
  if (ReportInsert(ed.io, fit, ed.lsize())) {
    RecordCursorLine(ed);
    Done(ed, Insert(ed.cursor_line, ed.cursor_pos, fit.count, ed.clip.get(), ed.doc));
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
  // The tail is handed over as a view of line c: the document reads it before it writes.
  LineView text = ed.doc.text(c);
  LineView tail = text.substr(std::min(text.size(), static_cast<std::size_t>(p)));
  InsertFit fit = CheckInsert(c + 1, 0, tail.view(), ed.doc);
  // Line c keeps its tail when line c + 1 could not get the memory to take it.
  bool fits = ReportInsert(ed.io, fit, ed.lsize());
  if (fits && !Done(ed, Insert(c + 1, 0, fit.count, tail.view(), ed.doc))) return;
  Trim(c, p, ed.doc);
  ed.cursor_line = c + 1;
  ed.cursor_pos = 0;
}

void LineMove(Editor& ed) {
  int d = 0;
  if (!ReadDestination(ed, msg::kMovePrompt, msg::kMoveBadDestination, d)) return;
  RecordPair(ed.undo, UndoMode::kMove, ed.cursor_line, d, ed.doc);
  Done(ed, Move(ed.cursor_line, d, ed.doc));
}

void LineCopy(Editor& ed) {
  int d = 0;
  if (!ReadDestination(ed, msg::kCopyLinePrompt, msg::kCopyBadDestination, d)) return;
  RecordPair(ed.undo, UndoMode::kCopy, ed.cursor_line, d, ed.doc);
  Done(ed, Copy(ed.cursor_line, d, ed.doc));
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
  Done(ed, ed.doc.OpenLine(ed.cursor_line));
}

// Removes the cursor line c and closes the gap; undo wedges it back in.
//
//   before:           A B [C] D E
//   line_delete:      A B [D] E _      the last slot becomes empty
//   undo:             A B [C] D E      every slot back, the last one included
void LineDelete(Editor& ed) {
  RecordDelete(ed.undo, ed.cursor_line, ed.doc);
  ed.doc.RemoveLine(ed.cursor_line);
}

void Undo(Editor& ed) {
  if (!ed.doc.Reserve(UndoReach(ed.undo))) return Print(ed.io, "%s", msg::kNoMemoryForChange);
  switch (ApplyUndo(ed.undo, ed.doc)) {
    case Undone::kRestored:
      ed.cursor_line = ed.undo.line;
      break;
    case Undone::kNothing:
      break;
    case Undone::kNoMemory:
      Print(ed.io, "%s", msg::kNoMemoryForChange);
      break;
  }
}
