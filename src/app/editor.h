// The whole editor state (the command loop's session) and the entry points that run it.
// Every handler takes Editor&; there is no other mutable state, so a test, a fuzzer or a
// benchmark can run any number of editors in one process.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/commands.h"
#include "app/session_journal.h"
#include "core/bytes.h"
#include "core/defaults.h"
#include "core/document.h"
#include "doc/file_system.h"
#include "core/io.h"
#include "core/pos.h"
#include "doc/stamp.h"
#include "edit/undo.h"
#include "settings/rc.h"

/// Hooks that tests and fuzzers replace.
struct Options {
  /// Runs the launch command; empty means std::system.
  std::function<void(const char* command)> run_shell;
  /// Every file-system step of a save passes here.
  FileSystem fs;
};

struct Editor {
  Io io;
  /// The line editor that io.editor reads through, when RunEditor opened one.
  std::unique_ptr<LineReader> line_editor;
  Options options;
  KeyTable keys{};
  Document doc;

  Pos cursor;
  int page_length = kDefaultPageLength;
  int show_numbers = 1;  // 1 shows line numbers; anything else hides them
  int line_lock = 0;
  int anchor = 0;

  UndoState undo;
  /// At a terminal, the journal of the unsaved changes (app/session_journal.h).
  SessionJournal journal;

  // Line-sized work buffers, allocated once the grid's width is known.
  Bytes clip;           // the clipboard ("memory")
  Bytes command_input;  // max(lsize, 3) bytes
  Bytes insert_input;
  Bytes jump_string;
  /// Where the recovery file's bytes are gathered (kGatherRoom bytes), then the rescue's texts
  /// (kRescueRoom bytes in all, app/rescue.h): had at start-up, so that the text can be
  /// rescued when memory has run out.
  Bytes rescue_room;

  char current_name[kNameSize] = {};
  char launch_command[kNameSize] = {};
  /// The launch command came from the settings file (not typed in this session): at a terminal
  /// it runs only with the user's consent.
  bool launch_from_rc = false;
  std::string rc_path;  // the real path of the settings file read, if any

  /// The current file as this session last loaded or saved it, to see another program's change.
  FileStamp stamp;
  /// The file the last load read, when that load split lines that were too long: the lines are
  /// written back over it only after the user said so, which holds until the next load.
  std::optional<FileStamp> split_source;

  /// doc.changes() when the document was last loaded (a load that replaced it), saved, or
  /// written to a recovery file.
  std::uint64_t saved_changes = 0;
  bool save_failed = false;  // the last save attempted failed: the program ends with status 1
  bool end_warned = false;   // the last read at the terminal met the end of input, unsaved

  bool running = true;
  int exit_status = 0;

  /// Ends the program after this turn with the given status.
  void Stop(int status) {
    running = false;
    exit_status = status;
  }
  /// Ends the program as a confirmed quit or the end of input does: status 1 when the last save
  /// attempted failed.
  void Finish() {
    Stop(save_failed ? 1 : 0);
    journal.ended_by_user = true;
  }
  /// The document changed since the last load that replaced it or save of it.
  bool modified() const { return doc.changes() != saved_changes; }
  /// The document as it is now is the one on disk.
  void MarkSaved() { saved_changes = doc.changes(); }
  int lines() const { return doc.lines(); }
  int lsize() const { return doc.lsize(); }
  int command_input_size() const { return lsize() < 3 ? 3 : lsize(); }
};

/// Runs the whole program (arguments as main receives them) on the given streams and returns
/// the exit status. Whether each stream is a terminal is found out here (Io::terminal,
/// Io::out_terminal).
int RunEditor(int argc, const char* const* argv, Io io, Options options = {});

/// Start-up: banner, keys, settings file, grid, first-argument load. Returns false when the
/// program already ended (the status is then in ed.exit_status).
[[nodiscard]] bool StartEditor(Editor& ed, int argc, const char* const* argv);

/// Allocates the grid and the line-sized work buffers; a grid too large for one block falls
/// back to the initial size with a message. Returns false when even that cannot be had.
[[nodiscard]] bool AllocateBuffers(Editor& ed, GridSize size);

/// One turn of the loop: the view, one read, one command or text entry. Returns false when
/// the program has ended.
[[nodiscard]] bool RunTurn(Editor& ed);
