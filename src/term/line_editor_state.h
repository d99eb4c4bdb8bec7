// What the files of the line editor share (built only with libedit; see line_editor.h): the
// state of one editor, the characters that stand for what typing never gives, and the
// functions each file offers the others. Nothing outside these files includes it.
//  - line_editor.cc: opening, one read, the history, handing text to libedit and back;
//  - paste.cc: the bytes the terminal sends, typed or pasted, as libedit's characters;
//  - terminal_events.cc: the terminal's modes, suspend, resume and resize;
//  - completion.cc: Tab at a file-name read.
#pragma once

#include <histedit.h>
#include <signal.h>
#include <termios.h>

#include <cstddef>
#include <cstdio>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "term/line_editor.h"

// libedit works on wide characters; typed bytes reach it through our own reader (GetChar)
// and leave it through ToBytes, so that no byte depends on the locale:
//  - in a UTF-8 locale a well-formed UTF-8 sequence is one character, shown as such;
//  - every other byte from 0x80 up (any such byte in other locales) becomes U+DC00 + the
//    byte, a code point no text holds, which libedit shows as an escape and ToBytes turns back
//    into that byte.
// What must not pass through libedit's key bindings (a pasted text, a typed C1 control, a
// redraw) reaches it as kAct, whose function puts `insert` into the line as it stands; a pasted
// line end is kNewline, bound to ed-newline. No typed byte gives either character.
struct LineEditor::State {
  EditLine* el = nullptr;
  HistoryW* history = nullptr;
  std::FILE* out = nullptr;
  int fd = -1;
  bool utf8 = false;
  std::string prompt;  // shown before the line, redrawn by libedit
  std::function<void(Asks)> print_above;  // prints what stands above a read's prompt
  std::function<void()> before_stop;      // runs before a Ctrl-Z stops the program
  Asks asks = Asks::kText;                // what this read asks for
  bool input_ended = false;          // the terminal's input ended (or failed) during this read

  // Characters decoded but not yet handed to libedit.
  wchar_t pending[4] = {};
  int pending_count = 0;
  int pending_at = 0;
  // Bytes read and given back: an ESC that began no marker, the byte that cut a UTF-8 sequence.
  unsigned char ahead[8] = {};
  int ahead_count = 0;
  // Read in one go while a paste arrives, then taken a byte at a time (after `ahead`).
  unsigned char chunk[4096] = {};
  int chunk_at = 0;
  int chunk_end = 0;

  std::wstring insert;      // what kAct puts into the line
  bool redisplay = false;   // kAct redraws the line: the window changed size
  std::string paste_bytes;  // pasted bytes of the line not yet in it
  bool in_paste = false;    // between ESC[200~ and ESC[201~
  bool after_cr = false;    // a pasted CR ended a line: an LF right after it belongs to it
  bool pasted = false;      // a pasted byte arrived during this read
  std::size_t room = 0;     // the characters this read's line may hold
  bool cut = false;         // characters beyond the room arrived during this read: dropped
  int escape = 0;           // typed: 1 after an ESC, 2 in a key's sequence ("ESC[", "ESCO")

  std::deque<std::size_t> entry_bytes;  // the size of each history entry, the oldest first
  std::size_t history_bytes = 0;        // their sum

  bool bracketed = false;  // TERM names a terminal with bracketed paste mode
  bool paste_on = false;   // ESC[?2004h was sent and not yet undone
  termios before = {};     // the terminal as the editor found it
  bool have_before = false;

  struct sigaction old_winch = {};
  struct sigaction old_tstp = {};
  struct sigaction old_cont = {};
  bool handlers_set = false;

  ~State() {
    if (el != nullptr) el_end(el);
    if (history != nullptr) history_wend(history);
    if (handlers_set) {
      sigaction(SIGWINCH, &old_winch, nullptr);
      sigaction(SIGTSTP, &old_tstp, nullptr);
      sigaction(SIGCONT, &old_cont, nullptr);
    }
  }
};

namespace line_editing {

using State = LineEditor::State;

constexpr wchar_t kByteEscape = 0xdc00;
constexpr wchar_t kAct = 0x80;      // C1 controls, which typing never gives (GetChar)
constexpr wchar_t kNewline = 0x9f;

// What a wait for the terminal's input, or for a byte of it, came to.
enum class [[nodiscard]] Got {
  kInput,      // input is there (WaitForInput); a byte was read (NextByte)
  kEnd,        // the input ended
  kFailed,     // a read failed, or a signal the editor acts on came (errno EINTR)
  kAttention,  // a suspend, a continue or a resize asked for a redraw first (when attending)
};

State& StateOf(EditLine* el);

// line_editor.cc: between the line's bytes and libedit's characters.
std::string ToBytes(const wchar_t* from, const wchar_t* to);
/// Appends the characters of `bytes` to `wide`, decoded as the comment on State says.
void AppendWide(const State& s, std::string_view bytes, std::wstring& wide);

/// A step of libedit's set-up, or a binding at a read, whose `result` is 0 when it worked. A
/// test build fails the step that MORVAX_FAILING_STEP names, as libedit may fail one.
bool Done(int result, const char* step);
/// The characters in the line being edited.
std::size_t LineLength(const State& s);
/// Adds a line of `bytes` bytes to the history; the oldest entries go first while the history
/// would hold over LineEditor::kHistoryEntries of them or over kHistoryBytes of text.
void Remember(State& s, const std::wstring& entry, std::size_t bytes);

// paste.cc
/// libedit's reader (EL_GETCFN).
int GetChar(EditLine* el, wchar_t* c);

// terminal_events.cc
/// Records SIGWINCH, SIGTSTP and SIGCONT from now on, keeping the handlers they had.
void SetHandlers(State& s);
/// Leave: Ctrl-Z stops the program as it would without the editor. Return: recorded again,
/// and a stop or a continue recorded in between is forgotten.
void LetStop(State& s);
void CatchStop();
void PasteModeOn(State& s);
void Release(State& s);
void Retake(State& s);
void TakeTerminalEvents(State& s, bool drawn);
Got WaitForInput(State& s, bool attend);
/// Draws the prompt and the line again from the prompt's first row, after a resize.
void RedrawResized(State& s);

// completion.cc
/// Tab at a file-name read (bound as morvax-complete).
unsigned char CompleteName(EditLine* el, int);

}  // namespace line_editing
