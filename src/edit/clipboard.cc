#include "edit/clipboard.h"

#include <cstring>

#include "app/messages.h"

int CheckCopy(int line, int position, int& count, const Document& doc, Io& io) {
  int rem = LengthFrom(doc.slot(line), position);
  if (rem == 0) {
    Line(io, msg::kNothingToCopy);
    return 0;
  }
  if (count > rem) {
    Print(io, msg::kCopyShortened, rem);
    count = rem;
  }
  return 1;
}

int CheckCut(int line, int position, int& count, const Document& doc, Io& io) {
  // A count beyond the rest of the slot is refused; one merely beyond the text is shortened.
  int room = doc.lsize() - position;
  if (count > room) {
    Print(io, msg::kMaxCutSize, room);
    return 0;
  }
  int rem = LengthFrom(doc.slot(line), position);
  if (rem == 0) {
    Line(io, msg::kNothingToCut);
    return 0;
  }
  if (count > rem) {
    count = rem;
    Print(io, msg::kCutShortened, rem);
  }
  return 1;
}

// Cut 2 at column 1 of "abcdef" (slot of 8):
//   a b c d e f 0 0   ->   a d e f 0 0 0 0
// The text after the cut slides left over itself, and every byte it leaves is zeroed, so
// nothing of the removed characters stays in the slot.
void Cut(int line, int position, int count, Document& doc) {
  std::span<char> slot = doc.slot(line);
  int len = LineLength(slot);
  int after = len - position - count;
  std::memmove(slot.data() + position, slot.data() + position + count, after);
  std::memset(slot.data() + position + after, 0, count);
}

int CheckPaste(int position, int& count, const char* text, int lsize, Io& io) {
  int len = static_cast<int>(std::strlen(text));
  if (len == 0) {
    Line(io, msg::kNothingToPaste);
    return 0;
  }
  count = len;
  if (position + len > lsize - 1) {
    Line(io, msg::kPasteShortened);
    count = lsize - 1 - position;
  }
  return 1;
}

void Paste(int line, int position, int count, const char* text, Document& doc) {
  std::span<char> slot = doc.slot(line);
  PadToCursor(slot, position);
  std::memcpy(slot.data() + position, text, count);
}
