#include "app/rescue.h"

#include <limits.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/editor.h"
#include "app/messages.h"
#include "app/session_journal.h"
#include "core/signals.h"
#include "doc/save.h"
#include "doc/save_names.h"
#include "term/caret.h"

namespace {

// Tells what became of the unsaved document on standard output and, when that has failed (or
// `on_err` asks for it), on standard error too: `tell` prints it to the Io it is given, which
// shows file names as its stream needs them (in caret display at a terminal). Allocates nothing.
template <typename Tell>
void TellRescue(Editor& ed, Tell tell, bool on_err = false) {
  tell(ed.io);
  // Flushed here: an output that fails only at this message must still send it to standard error.
  std::fflush(ed.io.out);
  if (!on_err && !ed.io.output_failed && std::ferror(ed.io.out) == 0) return;
  Io err{nullptr, ed.io.err};
  err.out_terminal = ed.io.err_terminal;
  err.utf8 = ed.io.utf8;  // taken at start-up for either terminal
  tell(err);
  std::fflush(ed.io.err);
}

}  // namespace

void WriteRecovery(Editor& ed, bool failure_on_err) {
  if (!ed.modified()) return;
  // Nothing here allocates: the bytes are gathered in the room had at start-up, the paths and
  // their display are made in the rest of it, and what is printed is not kept for a redraw.
  ed.io.keep_question = false;
  Pieces pieces = DocumentPieces(ed.doc, ed.rescue_room.get());
  auto& texts = *reinterpret_cast<RescueTexts*>(ed.rescue_room.get() + kGatherRoom);
  Status written = WriteNewFile("", kRecoveryBase, pieces, texts.path);
  if (!written.ok()) {
    std::snprintf(texts.here, sizeof texts.here, "%s", std::strerror(written.err));
    // A relative HOME would be taken from the working folder, which already failed.
    const char* home = std::getenv("HOME");
    const char* there = msg::kRecoveryInHome;
    const char* why = msg::kHomeNotAbsolute;
    if (home == nullptr || home[0] == '\0') {
      why = msg::kHomeNotSet;
    } else if (home[0] == '/') {
      written = WriteNewFile(home, kRecoveryBase, pieces, texts.path);
      there = texts.path;
      why = std::strerror(written.err);
    }
    if (!written.ok()) {
      return TellRescue(
          ed,
          [&](Io& io) {
            Print(io, msg::kRecoveryFailed, kRecoveryBase, texts.here,
                  ShownInto(io, there, texts.shown), why);
          },
          failure_on_err);
    }
  }
  JournalRescued(ed);  // the recovery file is whole and flushed
  ed.MarkSaved();
  // The text is safe: a second signal need not wait for a message that nobody reads.
  LetEndingSignalsEnd(ed.io.terminal);
  TellRescue(ed, [&](Io& io) {
    Print(io, msg::kRecoveryWritten, ShownInto(io, texts.path, texts.shown));
  });
}

bool TakeEndingSignal(Editor& ed) {
  if (!EndingSignalPending(ed.io.terminal)) return false;
  WriteRecovery(ed);
  ed.Stop(128 + PendingSignal());
  return true;
}

// A terminating signal that came meanwhile ends the session as that signal, as it would have
// without the shortage. The rescue allocates nothing, so it works however little memory is
// left; when it fails, standard error says so too.
void EndWithoutMemory(Editor& ed) {
  try {
    ed.io.keep_question = false;  // what the rescue prints is not kept: that would allocate
    if (TakeEndingSignal(ed)) return;
    Line(ed.io, msg::kNoMemoryToGoOn);
    WriteRecovery(ed, true);
  } catch (...) {
    // Nothing in the rescue throws; should it, the session still ends as said.
  }
  ed.Stop(1);
}
