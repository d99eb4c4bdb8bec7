#include "edit/line_commands.h"

void Clear(int line, Document& doc) {
  doc.SetLine(line, "");
}

void Trim(int line, int position, Document& doc) {
  doc.Truncate(line, position);
}

bool Copy(int source, int destination, Document& doc) {
  return doc.SetLine(destination, doc.text(source));
}

// Emptying the source after a move onto the same line would lose it: that move is a copy of
// the line onto itself.
bool Move(int source, int destination, Document& doc) {
  if (!Copy(source, destination, doc)) return false;
  if (source != destination) Clear(source, doc);
  return true;
}
