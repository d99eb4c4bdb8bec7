// The editor's two streams and the reads and writes every subsystem uses on them. Nothing here
// knows about commands: it reads whole lines with byte limits and prints whole lines.
#pragma once

#include <cstdio>
#include <string>

/// A source of whole typed lines: the line editor at a terminal (term/line_editor.h).
class LineReader {
 public:
  enum class Status {
    kLine,    // a line, as typed, with its line end
    kPasted,  // a line of which some bytes were pasted (bracketed paste), with its line end
    kEnd,     // the end of input (Ctrl-D on an empty line)
    kFailed,  // a read error or a signal interrupted the read (errno says which); no retry
  };
  virtual ~LineReader() = default;
  /// Reads one line with `prompt` shown before it. With `names`, Tab completes a file name.
  virtual Status Read(const char* prompt, bool names, std::string& line) = 0;
  /// Hands the terminal back as it was, until Return: before a launch command runs.
  virtual void Leave() {}
  /// Takes the terminal again after Leave.
  virtual void Return() {}
};

struct Io {
  std::FILE* in = nullptr;
  std::FILE* out = nullptr;
  /// Standard input is a terminal: Ctrl-C and Ctrl-D abandon the command waiting for an answer
  /// instead of ending the input for good.
  bool terminal = false;
  bool out_terminal = false;  // standard output is a terminal: texts from files are Shown
  bool utf8 = false;          // with out_terminal: the terminal's character set is UTF-8
  /// Line editing, when both streams are terminals and the program has it: every read then
  /// goes through it, and the prompt of the next read is its editable prompt.
  LineReader* editor = nullptr;
  std::string prompt = {};  // with line editing: what Prompt() left for the next read to show
  std::string shown = {};   // at a terminal: the caret display of the view's last line

  bool at_end = false;         // the input has ended (or failed) for good: no further reads
  bool abandoned = false;      // a read of this turn was interrupted or ended: the rest fail too
  bool ended = false;          // the last failed read met the end of input
  bool lost = false;           // the last read dropped characters beyond its limit
  /// Bytes of the last line read were pasted at the terminal: it is never a command, and a
  /// question that wants a yes takes it as a no.
  bool pasted = false;
  bool output_failed = false;  // writing the output failed: the session ends at this read
};

/// What a read asks for. With line editing, Tab completes a file name; elsewhere it types a tab.
enum class Asks { kText, kFileName };

/// Reads one whole line: at most limit - 1 bytes are kept, the line end included when it fits;
/// the rest of a longer line is read and dropped, never left for the next read (`io.lost` says
/// whether characters other than the line end were dropped). Output is flushed first. Returns
/// false at end of input, when a signal interrupts the read, or when an earlier read of this
/// turn failed; buf is then empty, so a failed read never yields the last answer. A SIGINT at a
/// terminal prints "Interrupted" and is taken here. With line editing (io.editor) the line is
/// typed there, with the same limits and results.
bool ReadLine(Io& io, char* buf, int limit, Asks asks = Asks::kText);

/// Cuts a text at its first line feed.
void StripLineEnd(char* text);

/// Reads a numeric answer (at most 7 characters of its line) and converts it as strtol does in
/// base 10; an answer without digits is 0. Returns false when the read fails.
bool ReadNumber(Io& io, int& value);

/// Reads a one-line answer of at most limit - 1 characters with its line end removed.
bool ReadAnswer(Io& io, char* buf, int limit, Asks asks = Asks::kText);

/// Prints the prompt that the next read answers on the same line; with line editing it is
/// kept for that read instead, which shows it as the line editor's prompt.
void Prompt(Io& io, const char* text);

/// Prints a text followed by a line end.
void Line(Io& io, const char* text);

/// printf to the output stream.
void Print(Io& io, const char* format, ...) __attribute__((format(printf, 2, 3)));

