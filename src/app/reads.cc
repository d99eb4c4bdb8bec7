#include "app/reads.h"

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/editor.h"
#include "app/messages.h"
#include "app/session_journal.h"
#include "core/signals.h"

void EditingOff(Editor& ed, const char* step) {
  std::fflush(ed.io.out);
  std::fprintf(ed.io.err, msg::kEditingOff, step);
  std::fflush(ed.io.err);
  ed.io.editor = nullptr;
  ed.line_editor.reset();
}

Read ReadLine(Editor& ed, char* buf, int limit, Asks asks) {
  // What a question may end is on disk before it is asked.
  if (asks != Asks::kCommand) JournalFlush(ed);
  Read read = ReadInputLine(ed.io, buf, limit, asks);
  if (read == Read::kEditingOff) {
    EditingOff(ed, ed.io.editing_off);
    read = ReadInputLine(ed.io, buf, limit, asks);
  }
  if (read == Read::kInterrupted) Line(ed.io, msg::kInterrupted);
  if (HeldNul(read)) {
    Line(ed.io, asks == Asks::kFileName ? msg::kNameHoldsNul : msg::kTextAfterNulDropped);
  }
  return read;
}

Read ReadAnswer(Editor& ed, char* buf, int limit, Asks asks) {
  Read read = ReadLine(ed, buf, limit, asks);
  StripLineEnd(buf);
  return read;
}

Read ReadNumber(Editor& ed, int& value) {
  char answer[8];
  Read read = ReadLine(ed, answer, sizeof answer);
  // Seven characters cannot leave the int range.
  if (IsLine(read)) value = static_cast<int>(std::strtol(answer, nullptr, 10));
  return read;
}

bool IsYes(Read read, const char* answer, const char* yes) {
  // Only the plain kind: a line pasted, cut short or cut at a NUL byte, and any kind of line
  // added later, never consents.
  return read == Read::kLine && std::strcmp(answer, yes) == 0;
}

bool TakeInterrupt(Editor& ed) {
  if (!ed.io.terminal || PendingSignal() != SIGINT) return false;
  ClearInterrupt();
  Line(ed.io, msg::kInterrupted);
  return true;
}
