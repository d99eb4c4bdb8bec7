#include "edit/text_entry.h"

#include <algorithm>
#include <cstring>

#include "app/messages.h"

void Replace(int line, int position, const char* text, Document& doc, Io& io, bool shortened) {
  if (line < 0 || line >= doc.lines()) return Line(io, msg::kInvalidLine);
  if (position >= doc.lsize() - 1) return Line(io, msg::kAtEndOfLine);
  std::span<char> slot = doc.slot(line);
  PadToCursor(slot, position);
  int len = static_cast<int>(std::strlen(text));
  int room = doc.lsize() - 1 - position;
  if (len > room || shortened) Print(io, "%s", msg::kTextShortened);
  len = std::min(len, room);
  std::memcpy(slot.data() + position, text, len);
}

int CheckInsert(int line, int position, int& count, const char* text, const Document& doc, Io& io) {
  int len = static_cast<int>(std::strlen(text));
  int n = LineLength(doc.slot(line));
  int max = doc.lsize() - 1;
  int allowed = len;
  if (position + len > max) {
    Line(io, msg::kInsertTooLongForPosition);
    allowed = max - position;
  }
  if (n + len > max) {
    Print(io, msg::kInsertLineExceeded, doc.lsize());
    allowed = std::min(allowed, max - n);
  }
  count = allowed;
  return allowed > 0 ? 1 : 0;
}

// Insert at column p of "abcdef" with p = 2 and "XY":
//   ab|cdef  ->  tail "cdef" saved, "XY" written at 2, tail written at 4  ->  abXYcdef
// A line shorter than p is first padded with spaces, so the tail is then empty.
void Insert(int line, int position, int count, const char* text, Document& doc) {
  std::span<char> slot = doc.slot(line);
  PadToCursor(slot, position);
  int tail = LengthFrom(slot, position);
  // memmove keeps the tail intact while it slides right over itself.
  std::memmove(slot.data() + position + count, slot.data() + position, tail);
  std::memcpy(slot.data() + position, text, count);
}
