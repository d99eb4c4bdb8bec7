// The journal of unsaved changes, kept only when standard input is a terminal: what the
// session appends after each command and flushes, when it begins anew (a load, a save) and
// goes (a clean end), the journals of earlier sessions replayed into recovery files at
// start-up, and the other live sessions on the same file. A piped session does none of it,
// and makes no system call for it.
#pragma once

#include <string>

#include "journal/journal.h"
#include "journal/record.h"

struct Editor;

/// What the session keeps for its journal.
struct SessionJournal {
  Journal file;
  JournalHeader base;     // where the document came from, as the next journal says
  std::string buffer;     // the write buffer: one record at a time
  bool stopped = false;   // a write failed (said once): none until the next load or save
  bool ended_by_user = false;  // a quit or an end of input: the unsaved changes are let go
  int other_pid = 0;      // a live session that had unsaved changes to the file at its load
  std::string other_boot;  // and the boot it runs in
};

/// After a load that replaced the document with the file open at `fd` (`bytes` as read):
/// the file is the new base, the journal goes, and another live session with unsaved changes
/// to the same file is told of.
void JournalLoaded(Editor& ed, const char* name, int fd, std::string_view bytes);
/// At start-up, when no file was loaded: the base is the empty document under the current name.
void JournalStarted(Editor& ed);
/// After a save that left nothing unsaved: the saved file is the new base, and the journal
/// goes.
void JournalSaved(Editor& ed, const char* name);
/// After a recovery file is written and flushed: the journal goes. Allocates nothing.
void JournalRescued(Editor& ed);
/// After each command: what it changed goes to the journal (made at the first change).
void JournalChanges(Editor& ed);
/// Before a question or a stop: the changes so far, appended and flushed.
void JournalFlush(Editor& ed);
/// At the end of the session: a clean end (nothing unsaved, a quit, an end of input) removes
/// the journal; an end that left the text nowhere else keeps it for the next start.
void JournalEnd(Editor& ed);
/// At start-up at a terminal: the journals of sessions that are gone, each replayed into a
/// recovery file in the state folder and announced, then removed.
void ReplayJournals(Editor& ed);
/// The pid of the other session found at the last load while it still runs, or 0.
int OtherSessionRunning(const Editor& ed);
