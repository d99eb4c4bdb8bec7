// Line editing when standard input and output are both terminals, through libedit: cursor keys,
// Emacs-style editing, ~/.editrc, a history of this session's lines (never written to a file)
// and, at the reads that ask for a file name, Tab completion of that name. Knows nothing of
// commands: Io asks it for one line at a time. Where the program is built without libedit,
// Open gives nothing and every read goes to the stream as before.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "core/io.h"

class LineEditor : public LineReader {
 public:
  /// A line editor on two terminal streams, or null when the program was built without libedit
  /// or it cannot start. Installs a SIGWINCH handler (SA_RESTART, it only records the resize)
  /// and no other; libedit's own signal handling stays off.
  static std::unique_ptr<LineEditor> Open(std::FILE* in, std::FILE* out);
  ~LineEditor() override;
  LineEditor(const LineEditor&) = delete;
  LineEditor& operator=(const LineEditor&) = delete;

  /// Reads one line with `prompt` shown before it (and redrawn with it). Every byte typed
  /// reaches `line` as typed, whatever the locale. With `names`, Tab completes the answer as a
  /// file name; otherwise Tab types a tab. A line read is added to the session's history.
  Status Read(const char* prompt, bool names, std::string& line) override;

  struct State;  // libedit's handles and the decoding of typed bytes

 private:
  explicit LineEditor(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};
