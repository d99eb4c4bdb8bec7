// The editor's two streams: the read of one whole line with a byte limit, and the writes.
// Nothing here knows about commands or says anything of its own: a read returns what happened
// (Read), and the caller says what it means.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "core/bytes.h"

/// What a read asks for. With line editing, Tab completes a file name (elsewhere it types a
/// tab), and the command read, below the view, prints the view again when the terminal comes
/// back to it after a suspend.
enum class Asks { kText, kFileName, kCommand };

/// A source of whole typed lines: the line editor at a terminal (term/line_editor.h).
class LineReader {
 public:
  enum class [[nodiscard]] Outcome {
    kLine,    // a line, as typed, with its line end
    kPasted,  // a line of which some bytes were pasted (bracketed paste), with its line end
    kEnd,     // the end of input (Ctrl-D on an empty line)
    kFailed,  // a read error or a signal interrupted the read (errno says which); no retry
    kOff,     // a step of line editing failed (Typed::off names it): nothing was read, and the
              // terminal is back as it was
  };
  /// What a read gives besides its outcome.
  struct Typed {
    std::string bytes;          // the line, as typed, with its line end
    bool cut = false;           // bytes beyond the room were typed or pasted: counted, not kept
    const char* off = nullptr;  // kOff: the step that failed
  };
  virtual ~LineReader() = default;
  /// Reads one line with `prompt` shown before it, for what `asks` says. The line holds at most
  /// about `room` bytes besides its line end; what comes beyond is dropped as it arrives.
  virtual Outcome Read(const char* prompt, Asks asks, std::size_t room, Typed& line) = 0;
  /// Hands the terminal back as it was, until Return: before a launch command runs.
  virtual void Leave() {}
  /// Takes the terminal again after Leave.
  virtual void Return() {}
};

/// Text kept as it is printed, in memory from malloc: memory refused, or a text that would
/// pass its limit, only ends the keeping (nothing is thrown).
class KeptText {
 public:
  /// Appends `text`: false, with nothing kept, when the whole would pass `most` bytes or its
  /// memory cannot be had.
  bool Append(std::string_view text, std::size_t most);
  void clear();
  const char* c_str() const { return room_ > 0 ? bytes_.get() : ""; }

 private:
  Bytes bytes_;
  std::size_t size_ = 0;
  std::size_t room_ = 0;  // bytes had, the terminating NUL's included
};

struct Io {
  std::FILE* in = nullptr;
  std::FILE* out = nullptr;
  std::FILE* err = stderr;  // where the rescue is told again when the output failed
  /// Standard input is a terminal: Ctrl-C and Ctrl-D leave the command waiting for an answer
  /// instead of ending the input for good.
  bool terminal = false;
  bool out_terminal = false;  // standard output is a terminal: texts from files are Shown
  bool utf8 = false;  // with out_terminal or err_terminal: the user's character set is UTF-8
  bool err_terminal = false;  // standard error is a terminal: texts from files are Shown there
  /// Line editing, when both streams are terminals and the program has it: every read then
  /// goes through it, and the prompt of the next read is its editable prompt.
  LineReader* editor = nullptr;
  std::string prompt = {};  // with line editing: what Prompt() left for the next read to show
  std::string shown = {};   // at a terminal: the caret display of the view's last line
  const char* editing_off = nullptr;  // Read::kEditingOff: the step of line editing that failed
  /// With line editing: what was printed since the last read of this turn, or since
  /// StartQuestion, which is the question the next read answers (the line editor prints it
  /// again after a suspend). The view is none: NewTurn stops the keeping until the next read.
  KeptText question = {};
  bool keep_question = false;

  // What the reads keep between them; callers look at the result of each read instead.
  bool at_end = false;         // the input ended for good, or the output failed: reads are over
  bool output_failed = false;  // writing the output failed
  bool abandoned = false;      // a read of this turn gave no line (cleared by NewTurn)
};

/// A stream that writes to the descriptor `fd` and gives no output up for a signal: a write(2)
/// that a signal interrupted, or that took only some of the bytes, is made again with the rest
/// (the C library's own streams drop the unwritten bytes on EINTR); a non-blocking `fd` that
/// takes nothing now (EAGAIN) is waited for (WaitReady). It fails, as ferror() then
/// says, only on another error (EIO, EPIPE, ENOSPC ...) or when a write is held up and a signal
/// that ends the session has come (EndingSignalPending(`terminal`), core/signals.h): the loop
/// then takes the signal, and the stream writes nothing more, so that a reader that reads no
/// more cannot keep the session from ending. Ctrl-S, then Ctrl-C, at a terminal only delays the
/// output. Fully buffered; flushed at the end of its scope, and `fd` stays open.
class RetryingStream {
 public:
  RetryingStream(int fd, bool terminal);
  ~RetryingStream();
  RetryingStream(const RetryingStream&) = delete;
  RetryingStream& operator=(const RetryingStream&) = delete;
  /// The stream, or null when it could not be made (no memory for it or its buffer).
  std::FILE* get() const { return file_; }

  struct Target {
    int fd;
    bool terminal;           // standard input is a terminal: SIGINT ends nothing
    bool given_up = false;  // a signal that ends the session stopped a write: no more writes
  };

 private:
  Target target_;
  Bytes buffer_;
  std::FILE* file_;
};

/// What a read gave: a kind of line, or why there is none. A new kind of line joins IsLine(),
/// and the callers that only need "a line or not", which ask IsLine(), stay as they are.
enum class [[nodiscard]] Read {
  kLine,       // a whole line: its bytes, and its line end when that fits
  kLineCut,    // a line longer than the limit: the bytes beyond it were read and dropped
  kPasted,     // a line of which some bytes were pasted at the terminal (bracketed paste)
  kPastedCut,  // a pasted line longer than the limit
  kLineNul,    // a line that held a NUL byte: the text ends there, and what followed is dropped
  kPastedNul,  // a pasted line that held a NUL byte
  // No line; the buffer is empty, so that a read that failed never yields an earlier answer.
  kEnd,           // the input ended for good (or cannot be read): so does every later read
  kEndTyped,      // Ctrl-D on an empty line at a terminal: only the command waiting is left
  kInterrupted,   // Ctrl-C at a terminal: the read took the signal, and the command is left
  kSignal,        // any other signal; it stays recorded (PendingSignal) for the loop to take
  kAbandoned,     // an earlier read of this turn gave no line: neither does any later one
  kOutputFailed,  // the output cannot be written: the session ends at this read
  // Line editing stopped at this read (Io::editing_off says why), and io.editor is gone: the
  // editor's own reads (app/reads.h) say so and read the line again from the stream.
  kEditingOff,
};

/// True for the results that carry a line.
constexpr bool IsLine(Read read) {
  return read == Read::kLine || read == Read::kLineCut || read == Read::kPasted ||
         read == Read::kPastedCut || read == Read::kLineNul || read == Read::kPastedNul;
}

/// True for a line that lost the bytes beyond the limit.
constexpr bool IsCut(Read read) {
  return read == Read::kLineCut || read == Read::kPastedCut;
}

/// True for a line with pasted bytes: it is never a command, and a question that wants a yes
/// takes it as a no.
constexpr bool IsPasted(Read read) {
  return read == Read::kPasted || read == Read::kPastedCut || read == Read::kPastedNul;
}

/// True for a line cut at a NUL byte it held: it is never a command, and never a file name.
constexpr bool HeldNul(Read read) {
  return read == Read::kLineNul || read == Read::kPastedNul;
}

/// True for an end of input: for good, or typed at a terminal.
constexpr bool IsEnd(Read read) {
  return read == Read::kEnd || read == Read::kEndTyped;
}

/// Starts a new turn of reads: a read that gave no line in the last turn no longer ends those
/// of this one.
void NewTurn(Io& io);
/// With line editing: what is printed from here to the next read is that read's question, and
/// nothing printed before.
void StartQuestion(Io& io);

/// Reads one whole line: at most limit - 1 bytes are kept, the line end included when it fits;
/// the rest of a longer line is read and dropped, never left for the next read (the line is
/// cut, IsCut, when characters other than the line end were dropped; a kept NUL byte ends the
/// text, HeldNul, and nothing after it counts). Output is flushed first. An input that is
/// non-blocking and has nothing yet is waited for, never taken as its end. With line editing
/// (io.editor) the line is typed there, with the same limits and results, and may be pasted.
/// Where several results apply, the first of these wins: kOutputFailed, a signal (kInterrupted
/// or kSignal), kEnd, kAbandoned.
Read ReadInputLine(Io& io, char* buf, int limit, Asks asks = Asks::kText);

/// Cuts a text at its first line feed.
void StripLineEnd(char* text);

/// Prints the prompt that the next read answers on the same line; with line editing it is
/// kept for that read instead, which shows it as the line editor's prompt.
void Prompt(Io& io, const char* text);

/// Prints a text followed by a line end.
void Line(Io& io, const char* text);

/// printf to the output stream.
void Print(Io& io, const char* format, ...) __attribute__((format(printf, 2, 3)));
