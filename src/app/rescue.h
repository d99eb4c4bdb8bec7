// The rescue: what becomes of unsaved text when the session ends without a save, at a signal
// that ends it, an output that cannot be written or memory that has run out. The recovery
// file's bytes are written by doc/ (WriteNewFile); here they are asked for and told.
#pragma once

#include <limits.h>

#include <cstddef>

#include "doc/save.h"

struct Editor;

/// What the rescue writes its paths and their display into: in the rescue's room, after the
/// gathered bytes, never on the stack, which may be small (a low `ulimit -s`).
struct RescueTexts {
  char path[PATH_MAX + 16];
  char shown[4 * (PATH_MAX + 16)];
  char here[128];  // why the working folder failed
};

/// The size of Editor::rescue_room: the gathered bytes (kGatherRoom), then the RescueTexts.
inline constexpr std::size_t kRescueRoom = kGatherRoom + sizeof(RescueTexts);

/// With unsaved changes, writes the document as a save would to a new recovery file in the
/// working folder (or in $HOME) and says where, or why it could not (on standard error too when
/// `failure_on_err`). Allocates nothing and keeps little on the stack, so that it works when
/// memory has run out or the stack is small. Once the file is written, a terminating signal
/// ends the program at once.
void WriteRecovery(Editor& ed, bool failure_on_err = false);

/// A terminating signal, or SIGINT where the input is no terminal, ends the session: the unsaved
/// document goes to a recovery file first. True when the session ended.
[[nodiscard]] bool TakeEndingSignal(Editor& ed);

/// Ends the session after a step was left by an exception: "Not enough memory to go on" and
/// the recovery file, status 1 (or, when a terminating signal came meanwhile, as that signal).
void EndWithoutMemory(Editor& ed);

/// Runs a step of the session: start-up or a turn. Memory refused where no change reserved it
/// (a std::bad_alloc, or a std::length_error for a size past all memory: the only exceptions
/// the library throws here; any other is taken the same way) ends the session as a terminating
/// signal does, with the recovery file, and status 1 (EndWithoutMemory). No exception goes
/// further: this is the one place that catches them, save a save's own clean-up (doc/save.h).
template <typename Step>
[[nodiscard]] bool Guarded(Editor& ed, Step step) {
  try {
    return step();
  } catch (...) {
  }
  EndWithoutMemory(ed);
  return false;
}
