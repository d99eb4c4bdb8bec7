// The editor's two streams and the reads and writes every subsystem uses on them. Nothing here
// knows about commands: it reads whole lines with byte limits and prints whole lines.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

class LineEditor;

struct Io {
  std::FILE* in = nullptr;
  std::FILE* out = nullptr;
  /// Standard input is a terminal: Ctrl-C and Ctrl-D abandon the command waiting for an answer
  /// instead of ending the input for good.
  bool terminal = false;
  bool out_terminal = false;  // standard output is a terminal: texts from files are Shown
  /// Line editing, when both streams are terminals and the program has it: every read then
  /// goes through it, and the prompt of the next read is its editable prompt.
  LineEditor* editor = nullptr;
  std::string prompt = {};  // with line editing: what Prompt() left for the next read to show
  std::string shown = {};   // at a terminal: the caret display of the view's last line

  bool at_end = false;         // the input has ended (or failed) for good: no further reads
  bool abandoned = false;      // a read of this turn was interrupted or ended: the rest fail too
  bool ended = false;          // the last failed read met the end of input
  bool lost = false;           // the last read dropped characters beyond its limit
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

/// The bytes a UTF-8 sequence led by `lead` takes (1 for ASCII), or 0 for a byte that leads none.
int Utf8SequenceLength(unsigned char lead);

/// Whether `byte` may stand at position `i` (1 to 3) of a well-formed UTF-8 sequence led by
/// `lead` (no overlong forms, surrogates or code points beyond U+10FFFF).
bool Utf8Continues(unsigned char lead, int i, unsigned char byte);

/// The length of the well-formed UTF-8 sequence at the start of `text`, or 0 when there is none.
std::size_t Utf8Length(std::string_view text);

/// The caret display of a text: control bytes (0x00-0x1f but tab, and 0x7f) as "^@".."^_" and
/// "^?"; C1 controls (0x80-0x9f outside a UTF-8 sequence, and the UTF-8 encodings of
/// U+0080-U+009F) as "\xNN" per byte, in lower-case hex. Every other byte, a tab, a valid
/// UTF-8 sequence or a stray byte from 0xa0 up, stays as it is.
std::string CaretDisplay(std::string_view text);
/// The same, appended to `out`.
void AppendCaretDisplay(std::string_view text, std::string& out);

/// Shown (below) for the view's lines, which are printed every turn: the caret display goes to
/// io.shown, whose room is kept from turn to turn. Valid until the next call.
const char* ShownInPlace(Io& io, const char* text);

/// A text that comes from a document, a file name, the settings file or a stored command, as it
/// is printed: at a terminal (io.out_terminal) its caret display, so that no file can drive the
/// terminal; elsewhere the text itself, byte for byte and without a copy. For a "%s" argument:
///   Print(io, msg::kOpened, Shown(io, name).c_str());
class Shown {
 public:
  Shown(const Io& io, const char* text) : text_(text) {
    if (io.out_terminal) {
      shown_ = CaretDisplay(text);
      text_ = shown_.c_str();
    }
  }
  Shown(const Shown&) = delete;
  Shown& operator=(const Shown&) = delete;
  const char* c_str() const { return text_; }

 private:
  const char* text_;   // the text itself, or shown_'s
  std::string shown_;  // the caret display, at a terminal
};
