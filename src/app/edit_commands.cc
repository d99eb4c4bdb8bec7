#include "app/edit_commands.h"

#include "app/editor.h"
#include "app/messages.h"
#include "app/reads.h"
#include "edit/clipboard.h"
#include "edit/line_commands.h"
#include "edit/text_entry.h"
#include "edit/undo.h"

// Each handler reads what its edit needs, names in one line what the edit keeps for undo (a
// Keep: the mode and the lines), runs the edit under edit/ and says its outcome.

namespace {

// What a copy or a cut did, said; `shortened` takes the count.
void SayClipped(Editor& ed, Clipped clip, const char* shortened, const char* nothing) {
  switch (clip.check) {
    case ClipCheck::kGo:
      return;
    case ClipCheck::kShortened:
      return Print(ed.io, shortened, clip.count);
    case ClipCheck::kNothing:
      return Line(ed.io, nothing);
    case ClipCheck::kTooLong:
      return Print(ed.io, msg::kMaxCutSize, clip.count);
  }
}

// What an edit of whole lines did, said.
void SayLineEdit(Editor& ed, LineEdit edit) {
  if (edit == LineEdit::kNoRoom) Line(ed.io, msg::kNoRoomForLine);
  if (edit == LineEdit::kNoMemory) Line(ed.io, msg::kNoMemoryForChange);
}

// Reads the count of a copy or cut; false when the command must stop here (end of input, or a
// negative count, which has no meaning for either and is refused before any other check).
[[nodiscard]] bool ReadCount(Editor& ed, const char* prompt, const char* negative, int& count) {
  Line(ed.io, prompt);
  if (!IsLine(ReadNumber(ed, count))) return false;
  if (count < 0) {
    Line(ed.io, negative);
    return false;
  }
  return true;
}

// Asks for a 1-based destination line and gives it 0-based; false when the command must stop
// (end of input, or a line outside the grid, refused with `invalid`).
[[nodiscard]] bool ReadDestination(Editor& ed, const char* prompt, const char* invalid,
                                   int& destination) {
  Print(ed.io, prompt, ed.cursor.line + 1);
  int number = 0;
  if (!IsLine(ReadNumber(ed, number))) return false;
  destination = number - 1;  // seven characters cannot reach the int limits
  if (destination < 0 || destination >= ed.lines()) {
    Line(ed.io, invalid);
    return false;
  }
  return true;
}

}  // namespace

void ReportEntry(Io& io, Entry entry) {
  switch (entry) {
    case Entry::kWritten:
      break;
    case Entry::kShortened:
      Line(io, msg::kTextShortened);
      break;
    case Entry::kInvalidLine:
      Line(io, msg::kInvalidLine);
      break;
    case Entry::kAtEndOfLine:
      Line(io, msg::kAtEndOfLine);
      break;
    case Entry::kNoMemory:
      Line(io, msg::kNoMemoryForChange);
      break;
  }
}

void ReportInsert(Io& io, const Inserted& insert, int lsize) {
  if (insert.past_end) Line(io, msg::kInsertTooLongForPosition);
  if (insert.line_full) Print(io, msg::kInsertLineExceeded, lsize);
  if (insert.no_memory) Line(io, msg::kNoMemoryForChange);
}

void TextEntry(Editor& ed, const char* text, bool shortened) {
  Keep keep{ed.undo, UndoMode::kLine, ed.cursor.line};
  ReportEntry(ed.io, Replace(ed.doc, ed.cursor, text, shortened, keep));
  if (ed.cursor.line < ed.lines() - 1 && ed.line_lock == 0) ++ed.cursor.line;
}

void NewInsert(Editor& ed) {
  Line(ed.io, msg::kInsertPrompt);
  char* answer = ed.insert_input.get();
  if (!IsLine(ReadAnswer(ed, answer, ed.lsize()))) return;
  Keep keep{ed.undo, UndoMode::kLine, ed.cursor.line};
  ReportInsert(ed.io, Insert(ed.doc, ed.cursor, answer, keep), ed.lsize());
}

void ClipCopy(Editor& ed) {
  int count = 0;
  if (!ReadCount(ed, msg::kCopyPrompt, msg::kCopyNegative, count)) return;
  Clipped copy = Copy(ed.doc, ed.cursor, count, ed.clip.get());
  SayClipped(ed, copy, msg::kCopyShortened, msg::kNothingToCopy);
}

void ClipCut(Editor& ed) {
  int count = 0;
  if (!ReadCount(ed, msg::kCutPrompt, msg::kCutNegative, count)) return;
  Keep keep{ed.undo, UndoMode::kLine, ed.cursor.line};
  Clipped cut = Cut(ed.doc, ed.cursor, count, ed.clip.get(), keep);
  SayClipped(ed, cut, msg::kCutShortened, msg::kNothingToCut);
}

void ClipPaste(Editor& ed) {
  Keep keep{ed.undo, UndoMode::kLine, ed.cursor.line};
  Clipped paste = Paste(ed.doc, ed.cursor, ed.clip.get(), keep);
  if (paste.check == ClipCheck::kNothing) return Line(ed.io, msg::kNothingToPaste);
  if (paste.check == ClipCheck::kShortened) Line(ed.io, msg::kPasteShortened);
  if (paste.no_memory) Line(ed.io, msg::kNoMemoryForChange);
}

// The empty clipboard is refused here: the insertion would refuse it silently.
void ClipInsert(Editor& ed) {
  if (ed.clip[0] == '\0') return Line(ed.io, msg::kNothingToPaste);
  Keep keep{ed.undo, UndoMode::kLine, ed.cursor.line};
  ReportInsert(ed.io, Insert(ed.doc, ed.cursor, ed.clip.get(), keep), ed.lsize());
}

void LineClear(Editor& ed) {
  int c = ed.cursor.line;
  Keep keep{ed.undo, UndoMode::kLine, c};
  ClearLine(ed.doc, c, keep);
}

void TrimEnd(Editor& ed) {
  Keep keep{ed.undo, UndoMode::kLine, ed.cursor.line};
  TrimLine(ed.doc, ed.cursor, keep);
}

// Undo brings both lines back; the cursor goes to the start of the next line.
void TrimWrap(Editor& ed) {
  int c = ed.cursor.line;
  Keep keep{ed.undo, UndoMode::kWrap, c, c + 1};
  Inserted wrap = Wrap(ed.doc, ed.cursor, keep);
  ReportInsert(ed.io, wrap, ed.lsize());
  if (!wrap.done) return;
  ed.cursor = {c + 1, 0};
}

void LineMove(Editor& ed) {
  int d = 0;
  if (!ReadDestination(ed, msg::kMovePrompt, msg::kMoveBadDestination, d)) return;
  int c = ed.cursor.line;
  Keep keep{ed.undo, UndoMode::kMove, c, d};
  SayLineEdit(ed, MoveLine(ed.doc, c, d, keep));
}

void LineCopy(Editor& ed) {
  int d = 0;
  if (!ReadDestination(ed, msg::kCopyLinePrompt, msg::kCopyBadDestination, d)) return;
  int c = ed.cursor.line;
  Keep keep{ed.undo, UndoMode::kCopy, c, d};
  SayLineEdit(ed, CopyLine(ed.doc, c, d, keep));
}

// Undo deletes the wedged line again.
void LineInsert(Editor& ed) {
  int c = ed.cursor.line;
  Keep keep{ed.undo, UndoMode::kWedge, c};
  SayLineEdit(ed, WedgeLine(ed.doc, c, keep));
}

// Undo wedges the line back in, with its text: every line back, the last one included.
void LineDelete(Editor& ed) {
  int c = ed.cursor.line;
  Keep keep{ed.undo, UndoMode::kDelete, c};
  DeleteLine(ed.doc, c, keep);
}

void Undo(Editor& ed) {
  switch (ApplyUndo(ed.undo, ed.doc)) {
    case Undone::kRestored:
      ed.cursor.line = ed.undo.line;
      break;
    case Undone::kNothing:
      break;
    case Undone::kNoMemory:
      Line(ed.io, msg::kNoMemoryForChange);
      break;
  }
}
