// The commands and dialogues that load and save documents: `open`, the two save commands and
// the save that other commands start; the recovery files of earlier sessions named at start-up
// (the rescue, which writes one, is app/rescue.h). The file work itself is under doc/.
#pragma once

#include <string_view>

#include "doc/load.h"

struct Editor;

enum class [[nodiscard]] Loaded {
  kReplaced,     // the document now holds the file
  kNotFound,     // nothing exists at the name: the document stays, the name may be used
  kUnreadable,   // something is there but cannot be read: nothing changes
  kDeclined,     // a partial load was not confirmed: nothing changes
  kInputEnded,   // the input ended at the partial-load question: nothing changes
  kInterrupted,  // a signal came before the file was read whole: nothing changes
};

/// Replaces the document with the lines of a file's `bytes`, already split into `incoming` and
/// `count` (doc/load.h) and held in `block`, which the document takes over: says the split
/// warnings and the line count, and asks the partial-load question when the load is partial
/// (a NUL byte also makes it so). kReplaced, or what became of the question; the document is
/// then left as it was.
Loaded PlaceLines(Editor& ed, std::string_view bytes, Document::Incoming& incoming,
                  const LineCount& count, Block& block);

/// Loads the file `name`. The whole file is read before anything is printed, so a failure
/// leaves one line of report and the document as it was. A signal that comes while the file
/// is opened or read gives the load up without a word (Ctrl-C at a terminal says
/// "Interrupted" and is taken here; any other signal is left for the loop). Whatever else
/// happened, the leftovers of earlier saves of that file are then announced.
Loaded LoadFile(Editor& ed, const char* name);

enum class [[nodiscard]] Saved { kWritten, kFailed, kAbandoned };

/// Saves to the current file name, asking for one when it is empty (a name asked for that is
/// taken is overwritten only after a typed "y"). kAbandoned when no save was attempted (no name
/// given, a refused name, a file or a change on disk not to be overwritten).
Saved Save(Editor& ed);

void SavePrompt(Editor& ed);
void SaveOverwrite(Editor& ed);
/// The `open` command: the dialogue, the load, and the open name as the current file name
/// unless the dialogue was left or the file could not be read.
void OpenCommand(Editor& ed);

/// Names the recovery files that earlier sessions left in the working folder.
void AnnounceRecoveryFiles(Editor& ed);
