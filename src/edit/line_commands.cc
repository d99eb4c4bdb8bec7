#include "edit/line_commands.h"

namespace {

LineEdit Outcome(Status done) {
  return done.ok() ? LineEdit::kDone : LineEdit::kNoMemory;
}

}  // namespace

void ClearLine(Document& doc, int line, const Keep& keep) {
  KeepForUndo(keep, doc);
  doc.Truncate(line, 0);
}

void TrimLine(Document& doc, Pos at, const Keep& keep) {
  KeepForUndo(keep, doc);
  doc.Truncate(at.line, at.column);
}

// Emptying the source after a move onto the same line would lose it: that move is a copy of
// the line onto itself. Emptying a line needs no memory, so the move is whole or not at all.
LineEdit MoveLine(Document& doc, int source, int destination, const Keep& keep) {
  KeepForUndo(keep, doc);
  if (Status set = doc.SetLine(destination, doc.text(source)); !set.ok()) return Outcome(set);
  if (source != destination) doc.Truncate(source, 0);
  return LineEdit::kDone;
}

LineEdit CopyLine(Document& doc, int source, int destination, const Keep& keep) {
  KeepForUndo(keep, doc);
  return Outcome(doc.SetLine(destination, doc.text(source)));
}

LineEdit WedgeLine(Document& doc, int line, const Keep& keep) {
  if (!doc.text(doc.lines() - 1).empty()) return LineEdit::kNoRoom;
  KeepForUndo(keep, doc);
  return Outcome(doc.OpenLine(line));
}

void DeleteLine(Document& doc, int line, const Keep& keep) {
  KeepForUndo(keep, doc);
  doc.RemoveLine(line);
}
