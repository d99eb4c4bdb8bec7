#include "edit/clipboard.h"

#include <cstring>

#include "core/editor.h"
#include "core/messages.h"
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
  if (!ReadNumber(ed.io, ed.numeric, count)) return false;
  if (count < 0) {
    Print(ed.io, "%s", negative);
    return false;
  }
  return true;
}

}  // namespace

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

// Each handler keeps its count in the session field named for it.

void ClipCopy(Editor& ed) {
  int& count = ed.copy_count;
  if (!ReadCount(ed, msg::kCopyPrompt, msg::kCopyNegative, count)) return;
  if (CheckCopy(ed.cursor_line, ed.cursor_pos, count, ed.doc, ed.io)) {
    FillClip(ed, count);
  }
}

void ClipCut(Editor& ed) {
  int& count = ed.cut_size;
  if (!ReadCount(ed, msg::kCutPrompt, msg::kCutNegative, count)) return;
  if (CheckCut(ed.cursor_line, ed.cursor_pos, count, ed.doc, ed.io)) {
    RecordLineUndo(ed);
    FillClip(ed, count);
    Cut(ed.cursor_line, ed.cursor_pos, count, ed.doc);
  }
}

void ClipPaste(Editor& ed) {
  int& count = ed.paste_length;
  if (CheckPaste(ed.cursor_pos, count, ed.clip.get(), ed.lsize(), ed.io)) {
    RecordLineUndo(ed);
    Paste(ed.cursor_line, ed.cursor_pos, count, ed.clip.get(), ed.doc);
  }
}

// The empty clipboard is refused here: the insertion check would refuse it silently.
void ClipInsert(Editor& ed) {
  if (ed.clip[0] == '\0') return Line(ed.io, msg::kNothingToPaste);
  int& count = ed.insert_length;
  if (CheckInsert(ed.cursor_line, ed.cursor_pos, count, ed.clip.get(), ed.doc, ed.io)) {
    RecordLineUndo(ed);
    Insert(ed.cursor_line, ed.cursor_pos, count, ed.clip.get(), ed.doc);
  }
}
