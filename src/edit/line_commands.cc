#include "edit/line_commands.h"

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
