#include "app/navigation.h"

#include <cstring>
#include <string_view>

#include "app/editor.h"
#include "app/messages.h"
#include "app/reads.h"

void PositionBack(Editor& ed) {
  if (ed.cursor.column > 0) --ed.cursor.column;
}

void PositionForw(Editor& ed) {
  if (ed.cursor.column < ed.lsize() - 1) ++ed.cursor.column;
}

void PositionDown(Editor& ed) {
  if (ed.cursor.line > 0) --ed.cursor.line;
  ed.cursor.column = 0;
}

void PositionUp(Editor& ed) {
  if (ed.cursor.line < ed.lines() - 1) ++ed.cursor.line;
  ed.cursor.column = 0;
}

void PositionBeg(Editor& ed) {
  ed.cursor.column = 0;
}

void PositionEnd(Editor& ed) {
  int rest = static_cast<int>(ed.doc.text(ed.cursor.line).size()) - ed.cursor.column;
  if (rest <= 0) return;
  int end = ed.cursor.column + rest;
  ed.cursor.column = end >= ed.lsize() ? ed.lsize() - 1 : end;
}

void PageBack(Editor& ed) {
  long long line = static_cast<long long>(ed.cursor.line) - ed.page_length;
  ed.cursor.line = line < 0 ? 0 : static_cast<int>(line);
}

void PageForw(Editor& ed) {
  long long line = static_cast<long long>(ed.cursor.line) + ed.page_length;
  ed.cursor.line = line > ed.lines() - 1 ? ed.lines() - 1 : static_cast<int>(line);
}

// A page length below 1 would leave the view without its current line and let the page
// commands stand still or run backwards, so such an answer keeps the old length.
void PageLength(Editor& ed) {
  Line(ed.io, msg::kPageLengthPrompt);
  int value = 0;
  if (!IsLine(ReadNumber(ed, value))) return;
  if (value >= 1) ed.page_length = value;
}

namespace {

// Reads a fresh jump string; false when the read gave no line.
[[nodiscard]] bool ReadJumpString(Editor& ed) {
  Line(ed.io, msg::kJumpPrompt);
  return IsLine(ReadAnswer(ed, ed.jump_string.get(), ed.lsize()));
}

// Column of the first occurrence of `needle` on the line of `from`, at or after `from`, or -1.
int FindInLine(const Document& doc, Pos from, const char* needle) {
  if (needle[0] == '\0') return -1;
  LineView text = doc.text(from.line);
  if (text.size() <= static_cast<std::size_t>(from.column)) return -1;
  std::size_t hit = text.find(needle, static_cast<std::size_t>(from.column));
  return hit == std::string_view::npos ? -1 : static_cast<int>(hit);
}

}  // namespace

void JumpLine(Editor& ed) {
  if (!ReadJumpString(ed)) return;
  int column = FindInLine(ed.doc, ed.cursor, ed.jump_string.get());
  if (column < 0) return Print(ed.io, msg::kNotFoundInLine, ed.cursor.line + 1);
  ed.cursor.column = column;
}

void JumpDoc(Editor& ed) {
  if (!ReadJumpString(ed)) return;
  // Lines at or past the extent are empty and cannot match.
  for (int line = ed.cursor.line; line < ed.doc.extent(); ++line) {
    int column = FindInLine(ed.doc, {line, 0}, ed.jump_string.get());
    if (column >= 0) {
      ed.cursor = {line, column};
      return;
    }
  }
  Line(ed.io, msg::kNotFound);
}

void LockTog(Editor& ed) {
  ed.line_lock = ed.line_lock == 0 ? 1 : 0;
  Line(ed.io, ed.line_lock == 1 ? msg::kLockOn : msg::kLockOff);
}

void GoToLine(Editor& ed) {
  Line(ed.io, msg::kGoToLine);
  int value = 0;
  if (IsLine(ReadNumber(ed, value))) MoveToLine(ed, value);
}

void GoToPos(Editor& ed) {
  Line(ed.io, msg::kGoToPos);
  int value = 0;
  if (IsLine(ReadNumber(ed, value))) MoveToColumn(ed, value);
}

void MoveToLine(Editor& ed, int value) {
  if (value >= 1 && value <= ed.lines()) ed.cursor.line = value - 1;
}

void MoveToColumn(Editor& ed, int value) {
  if (value >= 1 && value <= ed.lsize()) ed.cursor.column = value - 1;
}

void AnchorGo(Editor& ed) {
  ed.cursor.column = ed.anchor;
}

void AnchorSet(Editor& ed) {
  ed.anchor = ed.cursor.column;
}

void NumTog(Editor& ed) {
  ed.show_numbers = ed.show_numbers == 1 ? 0 : 1;
}
