// Line editing when standard input and output are both terminals, through libedit: cursor keys,
// Emacs-style editing, ~/.editrc, a history of this session's lines (never written to a file)
// and, at the reads that ask for a file name, Tab completion of that name. Knows nothing of
// commands: Io asks it for one line at a time. Where the program is built without libedit,
// Open gives nothing and every read goes to the stream as before.
//
// The terminal belongs to the editor from the first read to the end: it stays in the editor's
// mode (no echo, no line buffering) between reads too, so that keys typed while the editor
// prints are shown once, at the next read. It is put back as it was before the program ends
// (the destructor), before a suspend (Ctrl-Z, unless a shell that saw a calling program stop
// has already taken the terminal back; `fg` takes it again and redraws the line, below
// the view at the command read and below its question at another) and before a launch command
// (Leave, Return). Bracketed paste mode is on while the editor has the terminal, where TERM
// names one that is not "dumb".
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "core/io.h"

class LineEditor : public LineReader {
 public:
  /// A line editor on two terminal streams (`out` writes to the descriptor `out_fd`), or null
  /// when the program was built without libedit or a step of libedit's set-up said it failed:
  /// `failed` then names that step, and the terminal is as it was. Installs handlers for
  /// SIGWINCH, SIGTSTP and SIGCONT (SA_RESTART; they only record the signal, and the reads act
  /// on it); libedit's own signal handling stays off.
  /// `print_above` prints what stands above the prompt of a read of the kind it is given (the
  /// view above the command read's, the question above another's), to `out`.
  static std::unique_ptr<LineEditor> Open(std::FILE* in, std::FILE* out, int out_fd,
                                          std::function<void(Asks)> print_above,
                                          const char*& failed);
  /// Puts the terminal back as it was, bracketed paste mode off as the last thing written.
  ~LineEditor() override;
  LineEditor(const LineEditor&) = delete;
  LineEditor& operator=(const LineEditor&) = delete;

  /// Reads one line with `prompt` shown before it (and redrawn with it: after a resize from the
  /// prompt's row down, the rest of the screen cleared). Every byte typed reaches `line` as
  /// typed, whatever the locale. At Asks::kFileName, Tab completes the answer as a file name;
  /// otherwise Tab types a tab. A line read is added to the session's history. Ctrl-D on an
  /// empty line ends the read (kEnd) with "^D" and a line end.
  /// A pasted text (between the markers ESC[200~ and ESC[201~, which never reach a line) is
  /// text, not keys: CR, LF and CR LF each end one line, every other byte is put into the line
  /// as it is. kPasted says that a pasted byte arrived during the read.
  /// libedit is handed at most `room` characters: typed characters and pasted bytes beyond
  /// them are counted (Typed::cut), not kept. The history keeps the last kHistoryEntries lines,
  /// and fewer while they hold more than kHistoryBytes of text.
  /// A binding that fails at the read gives kOff, with the terminal put back as it was.
  Outcome Read(const char* prompt, Asks asks, std::size_t room, Typed& line) override;

  static constexpr int kHistoryEntries = 1000;
  static constexpr std::size_t kHistoryBytes = 1 << 20;

  /// Puts the terminal back as it was (input still arriving from a paste is dropped) and lets
  /// Ctrl-Z stop the program as usual, until Return.
  void Leave() override;
  void Return() override;
  /// Runs `call` before each Ctrl-Z stops the program.
  void BeforeStop(std::function<void()> call);

  struct State;  // libedit's handles, the decoding of typed bytes and the terminal's modes

 private:
  explicit LineEditor(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};
