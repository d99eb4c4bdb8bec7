#include "term/line_editor.h"

#ifndef MORVAX_LIBEDIT

// Built without libedit: there is no line editor, and Io reads the stream itself.
struct LineEditor::State {};

std::unique_ptr<LineEditor> LineEditor::Open(std::FILE*, std::FILE*, std::function<void()>) {
  return nullptr;
}

LineEditor::LineEditor(std::unique_ptr<State> state) : state_(std::move(state)) {}
LineEditor::~LineEditor() = default;

LineEditor::Status LineEditor::Read(const char*, Asks, std::string&) {
  return Status::kEnd;
}

void LineEditor::Leave() {}
void LineEditor::Return() {}

#else

#include <dirent.h>
#include <histedit.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string_view>
#include <vector>

#include "core/io.h"
#include "core/signals.h"
#include "core/utf8.h"
#include "term/caret.h"

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
  std::function<void()> print_view;  // prints what stands above the command read's prompt
  bool at_view = false;              // this read is the command read
  bool input_ended = false;          // the terminal's input ended (or failed) during this read

  // Characters decoded but not yet handed to libedit.
  wchar_t pending[4] = {};
  int pending_count = 0;
  int pending_at = 0;
  // Bytes read and given back: an ESC that began no marker, the byte that cut a UTF-8 sequence.
  unsigned char ahead[8] = {};
  int ahead_count = 0;

  std::wstring insert;      // what kAct puts into the line
  bool redisplay = false;   // kAct redraws the line: the window changed size
  std::string clear_row;    // the terminal's "clear to the end of the row", while lent (Act)
  std::string paste_bytes;  // pasted bytes of the line not yet in it
  bool in_paste = false;    // between ESC[200~ and ESC[201~
  bool after_cr = false;    // a pasted CR ended a line: an LF right after it belongs to it
  bool pasted = false;      // a pasted byte arrived during this read

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

namespace {

using State = LineEditor::State;

// The handlers only record; the reads act on what they recorded.
volatile std::sig_atomic_t resized = 0;
volatile std::sig_atomic_t stop_asked = 0;  // Ctrl-Z
volatile std::sig_atomic_t continued = 0;   // SIGCONT: the terminal may be in another's mode
void Record(int signal) {
  if (signal == SIGWINCH) resized = 1;
  if (signal == SIGTSTP) stop_asked = 1;
  if (signal == SIGCONT) continued = 1;
}

void SetHandler(int signal, struct sigaction* old) {
  struct sigaction action = {};
  action.sa_handler = &Record;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // none of them interrupts the work of a command
  sigaction(signal, &action, old);
}

constexpr wchar_t kByteEscape = 0xdc00;
constexpr wchar_t kAct = 0x80;      // C1 controls, which typing never gives (GetChar)
constexpr wchar_t kNewline = 0x9f;

bool IsByteEscape(wchar_t c) {
  return c >= kByteEscape + 0x80 && c <= kByteEscape + 0xff;
}

State& StateOf(EditLine* el) {
  void* data = nullptr;
  el_get(el, EL_CLIENTDATA, &data);
  return *static_cast<State*>(data);
}

std::string ToBytes(const wchar_t* from, const wchar_t* to) {
  std::string bytes;
  for (const wchar_t* c = from; c < to; ++c) {
    if (IsByteEscape(*c)) {
      bytes += static_cast<char>(*c - kByteEscape);
    } else if (*c >= 0 && *c <= 0x10ffff) {
      AppendUtf8(bytes, static_cast<unsigned>(*c));
    }
  }
  return bytes;
}

// Appends the characters of `bytes` to `wide`, decoded as the comment on State says.
void AppendWide(const State& s, std::string_view bytes, std::wstring& wide) {
  while (!bytes.empty()) {
    auto lead = static_cast<unsigned char>(bytes[0]);
    std::size_t n = lead < 0x80 ? 1 : s.utf8 ? Utf8Length(bytes) : 0;
    if (n == 0) {
      wide += static_cast<wchar_t>(kByteEscape + lead);
      n = 1;
    } else {
      wide += static_cast<wchar_t>(
          Utf8Decode(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(n)));
    }
    bytes.remove_prefix(n);
  }
}

// ---- The terminal's modes ----

void PasteModeOn(State& s) {
  if (!s.bracketed || s.paste_on) return;
  std::fputs("\x1b[?2004h", s.out);
  std::fflush(s.out);
  s.paste_on = true;
}

// The terminal as the editor found it: input still arriving from a paste is dropped first, and
// bracketed paste mode goes off.
void Release(State& s) {
  if (s.in_paste) {
    tcflush(s.fd, TCIFLUSH);
    s.in_paste = s.after_cr = false;
    s.ahead_count = 0;
  }
  if (s.paste_on) {
    std::fputs("\x1b[?2004l", s.out);
    s.paste_on = false;
  }
  std::fflush(s.out);
  el_set(s.el, EL_PREP_TERM, 0);
  if (s.have_before) tcsetattr(s.fd, TCSADRAIN, &s.before);
}

// The editor's mode again, whatever another program left: from the terminal as it is now.
void Retake(State& s) {
  el_set(s.el, EL_PREP_TERM, 0);
  el_set(s.el, EL_PREP_TERM, 1);
}

// Ctrl-Z: the terminal goes back, and the program stops as it would without a handler (an
// orphaned process group does not stop). The SIGCONT of `fg` is recorded before this returns.
void Suspend(State& s) {
  Release(s);
  struct sigaction stop = {};
  stop.sa_handler = SIG_DFL;
  sigemptyset(&stop.sa_mask);
  sigaction(SIGTSTP, &stop, nullptr);
  raise(SIGTSTP);
  sigset_t let_in;
  sigset_t before;
  sigemptyset(&let_in);
  sigaddset(&let_in, SIGTSTP);
  sigaddset(&let_in, SIGCONT);
  sigprocmask(SIG_UNBLOCK, &let_in, &before);  // stops here, when they were blocked
  sigprocmask(SIG_SETMASK, &before, nullptr);
  SetHandler(SIGTSTP, nullptr);
}

// Acts on the signals recorded: a suspend, a continue, a resize. `drawn`: the prompt and the
// line are on the screen, so they are redrawn.
void TakeTerminalEvents(State& s, bool drawn) {
  if (stop_asked != 0) {
    stop_asked = 0;
    Suspend(s);
    continued = 1;
  }
  if (continued != 0) {
    continued = 0;
    Retake(s);
    if (drawn) {
      if (s.at_view) s.print_view();
      PasteModeOn(s);
      el_set(s.el, EL_REFRESH);
    }
  }
  if (resized != 0) {
    resized = 0;
    el_resize(s.el);
    if (drawn) s.redisplay = true;
  }
}

// libedit's redraw goes to the first row of the prompt and clears that row, then draws: after
// a resize the rows below may still hold the line as it was drawn before. For that redraw,
// the capability that clears to the end of the row lends its place to the one that clears to
// the end of the screen; the next character read gives it back (GiveBackClearRow).
void LendClearRow(State& s) {
  const char* row = nullptr;
  const char* screen = nullptr;
  el_get(s.el, EL_GETTC, "ce", &row);
  el_get(s.el, EL_GETTC, "cd", &screen);
  if (row == nullptr || screen == nullptr || screen[0] == '\0') return;
  s.clear_row = row;
  std::string to_end = screen;  // copied: settc may reuse the storage it points into
  el_set(s.el, EL_SETTC, "ce", to_end.c_str(), nullptr);
}

void GiveBackClearRow(State& s) {
  if (s.clear_row.empty()) return;
  el_set(s.el, EL_SETTC, "ce", s.clear_row.c_str(), nullptr);
  s.clear_row.clear();
}

// ---- Reading the terminal ----

constexpr int kAttention = 2;  // a read gave way to a redraw

// Waits until the terminal has input: 1, or -1 with errno EINTR once a signal that the editor
// acts on has been recorded, even one that came before the wait: those signals are let in only
// during ppoll. A suspend, a continue and a resize are taken here; with `attend`, a redraw they
// ask for ends the wait (kAttention).
int WaitForInput(State& s, bool attend) {
  sigset_t acted_on;
  sigset_t before;
  sigemptyset(&acted_on);
  for (int signal : {SIGINT, SIGHUP, SIGTERM, SIGTSTP, SIGCONT, SIGWINCH}) {
    sigaddset(&acted_on, signal);
  }
  sigprocmask(SIG_BLOCK, &acted_on, &before);
  int result = 1;
  for (;;) {
    if (PendingSignal() != 0) {
      result = -1;
      errno = EINTR;
      break;
    }
    TakeTerminalEvents(s, true);
    if (attend && s.redisplay) {
      result = kAttention;
      break;
    }
    pollfd input = {s.fd, POLLIN, 0};
    int ready = ppoll(&input, 1, nullptr, &before);
    if (ready > 0) break;
    if (ready < 0 && errno != EINTR) {
      result = -1;
      break;
    }
  }
  int err = errno;
  sigprocmask(SIG_SETMASK, &before, nullptr);
  errno = err;
  return result;
}

// One byte of input, those given back first: 1, 0 at the end of input, -1 on an error, or
// kAttention (see WaitForInput). An interrupted read is not retried, so that the signal that
// interrupted it is handled by the caller.
int NextByte(State& s, unsigned char& byte, bool attend) {
  if (s.ahead_count > 0) {
    byte = s.ahead[0];
    std::memmove(s.ahead, s.ahead + 1, static_cast<std::size_t>(--s.ahead_count));
    return 1;
  }
  int waited = WaitForInput(s, attend);
  if (waited != 1) return waited;
  ssize_t n = ::read(s.fd, &byte, 1);
  if (n == 1) return 1;
  return n == 0 ? 0 : -1;
}

// Gives bytes back, to be read again before any other.
void GiveBack(State& s, const unsigned char* bytes, int n) {
  std::memmove(s.ahead + n, s.ahead, static_cast<std::size_t>(s.ahead_count));
  std::memcpy(s.ahead, bytes, static_cast<std::size_t>(n));
  s.ahead_count += n;
}

enum class Marker { kNone, kStart, kEnd };

// After an ESC: the rest of a paste marker, "[200~" (start) or "[201~" (end). Bytes that spell
// no marker are given back, except after a signal or an error (`got` -1): they belong to the
// line that it drops.
Marker ReadMarker(State& s, int& got) {
  static constexpr char kStart[] = "[200~";
  unsigned char seen[5];
  int n = 0;
  for (;;) {
    got = NextByte(s, seen[n], false);
    if (got != 1) break;
    unsigned char c = seen[n++];
    bool fits = c == kStart[n - 1] || (n == 4 && c == '1');
    if (!fits) break;
    if (n == 5) return seen[3] == '0' ? Marker::kStart : Marker::kEnd;
  }
  if (got >= 0) GiveBack(s, seen, n);
  return Marker::kNone;
}

// Hands what was pasted or must be put in as it stands to libedit: kAct, then kNewline for a
// line end.
int Hand(State& s, wchar_t* c, bool line_end) {
  AppendWide(s, s.paste_bytes, s.insert);
  s.paste_bytes.clear();
  if (line_end) s.pending[s.pending_count++] = kNewline;
  *c = kAct;
  return 1;
}

// The character a typed byte begins, as the comment on State says.
int Decode(State& s, unsigned char lead, wchar_t* c) {
  unsigned char seq[4] = {lead};
  int n = lead < 0x80 ? 1 : s.utf8 ? Utf8SequenceLength(lead) : 0;
  int have = 1;
  while (have < n) {
    int got = NextByte(s, seq[have], false);
    if (got < 0) return -1;
    if (got == 0 || !Utf8Continues(seq[0], have, seq[have])) {
      // No character: each byte so far on its own, and the one that did not fit comes next.
      if (got == 1) GiveBack(s, seq + have, 1);
      for (int i = 1; i < have; ++i) s.pending[s.pending_count++] = kByteEscape + seq[i];
      n = 0;
      break;
    }
    ++have;
  }
  if (n == 0) {
    *c = static_cast<wchar_t>(kByteEscape + seq[0]);
    return 1;
  }
  auto code = static_cast<wchar_t>(Utf8Decode(seq, n));
  if (code >= 0x80 && code <= 0x9f) {
    // A C1 control is text too, though libedit binds those codes to keys.
    s.insert += code;
    *c = kAct;
    return 1;
  }
  *c = code;
  return 1;
}

// libedit's reader (EL_GETCFN): one character, as the comment on State says. Paste markers
// are taken here; a pasted text is gathered up to its next line end or its end.
int GetChar(EditLine* el, wchar_t* c) {
  State& s = StateOf(el);
  GiveBackClearRow(s);
  if (s.pending_at < s.pending_count) {
    *c = s.pending[s.pending_at++];
    return 1;
  }
  s.pending_at = s.pending_count = 0;
  for (;;) {
    unsigned char byte;
    int got = NextByte(s, byte, true);
    if (got == kAttention) return Hand(s, c, false);
    if (got != 1) {
      s.input_ended = true;
      return got;
    }
    if (byte == 0x1b) {
      Marker marker = ReadMarker(s, got);
      if (got < 0) return -1;
      if (marker == Marker::kStart) {
        s.in_paste = true;
        continue;
      }
      if (marker == Marker::kEnd) {
        s.in_paste = s.after_cr = false;
        if (s.paste_bytes.empty()) continue;
        return Hand(s, c, false);  // a paste without a line end stays in the line
      }
    }
    if (!s.in_paste) return Decode(s, byte, c);
    bool lf_of_cr = byte == '\n' && s.after_cr;
    s.after_cr = byte == '\r';
    if (lf_of_cr) continue;
    s.pasted = true;
    if (byte == '\r' || byte == '\n') return Hand(s, c, true);
    s.paste_bytes += static_cast<char>(byte);
  }
}

// kAct's function: puts `insert` into the line at the cursor, no key binding applied.
unsigned char Act(EditLine* el, int) {
  State& s = StateOf(el);
  if (!s.insert.empty()) {
    el_winsertstr(el, s.insert.c_str());
    s.insert.clear();
  }
  if (s.redisplay) {
    s.redisplay = false;
    LendClearRow(s);
    return CC_REDISPLAY;
  }
  return CC_REFRESH;
}

char* PromptText(EditLine* el) {
  return StateOf(el).prompt.data();
}

bool IsFolder(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The names in `folder` that begin with `start`, sorted; names beginning with "." only when
// `start` does.
std::vector<std::string> NamesStartingWith(const std::string& folder, const std::string& start) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.empty() ? "." : folder.c_str()),
                                          &closedir);
  if (dir == nullptr) return names;
  while (const dirent* entry = readdir(dir.get())) {
    std::string_view name = entry->d_name;
    if (name == "." || name == ".." || (name[0] == '.' && (start.empty() || start[0] != '.'))) {
      continue;
    }
    if (name.substr(0, start.size()) == start) names.emplace_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The longest start that all names share, not ending inside a UTF-8 character.
std::string CommonStart(const std::vector<std::string>& names, bool utf8) {
  std::string common = names[0];
  for (const std::string& name : names) {
    std::size_t n = 0;
    while (n < common.size() && n < name.size() && common[n] == name[n]) ++n;
    common.resize(n);
  }
  if (utf8 && names.size() > 1) {
    std::size_t lead = common.size();
    while (lead > 0 && common.size() - lead < 4 &&
           (static_cast<unsigned char>(common[lead - 1]) & 0xc0) == 0x80) {
      --lead;
    }
    if (lead > 0 && static_cast<unsigned char>(common[lead - 1]) >= 0xc0 &&
        Utf8Length(std::string_view(common).substr(lead - 1)) == 0) {
      common.resize(lead - 1);
    }
  }
  return common;
}

// Prints the names below the line being edited, in caret display, as many to a row as fit.
void ListNames(State& s, const std::string& folder, const std::vector<std::string>& names) {
  int columns = 80;
  el_get(s.el, EL_GETTC, "co", &columns);
  std::fputc('\n', s.out);
  int used = 0;
  for (const std::string& name : names) {
    std::string shown = CaretDisplay(name, s.utf8) + (IsFolder(folder + name) ? "/" : "");
    int width = static_cast<int>(shown.size());
    if (used > 0 && used + 2 + width > columns) {
      std::fputc('\n', s.out);
      used = 0;
    }
    if (used > 0) {
      std::fputs("  ", s.out);
      used += 2;
    }
    std::fputs(shown.c_str(), s.out);
    used += width;
  }
  std::fputc('\n', s.out);
}

// Tab at a file-name read: the answer up to the cursor is one literal path. A single match is
// completed exactly, with "/" after a folder; several complete to their common start and are
// listed; none rings the bell.
unsigned char CompleteName(EditLine* el, int) {
  State& s = StateOf(el);
  const LineInfoW* line = el_wline(el);
  std::string typed = ToBytes(line->buffer, line->cursor);
  std::size_t slash = typed.rfind('/');
  std::string folder = slash == std::string::npos ? "" : typed.substr(0, slash + 1);
  std::string start = typed.substr(folder.size());

  std::vector<std::string> names = NamesStartingWith(folder, start);
  if (names.empty()) return CC_REFRESH_BEEP;
  std::string common = CommonStart(names, s.utf8);
  std::string insert = common.substr(start.size());
  if (names.size() == 1 && IsFolder(folder + common)) insert += '/';
  std::wstring wide;
  AppendWide(s, insert, wide);
  if (!insert.empty() && el_winsertstr(el, wide.c_str()) != 0) return CC_ERROR;
  if (names.size() == 1) return CC_REFRESH;
  ListNames(s, folder, names);
  return CC_REDISPLAY;
}

}  // namespace

LineEditor::LineEditor(std::unique_ptr<State> state) : state_(std::move(state)) {}

LineEditor::~LineEditor() {
  Release(*state_);
}

std::unique_ptr<LineEditor> LineEditor::Open(std::FILE* in, std::FILE* out,
                                             std::function<void()> print_view) {
  auto state = std::make_unique<State>();
  state->fd = fileno(in);
  state->out = out;
  state->print_view = std::move(print_view);
  // The user's character set decides how typed text is shown; the bytes pass whatever it is.
  state->utf8 = UserCharsetIsUtf8();
  const char* term = std::getenv("TERM");
  state->bracketed = term != nullptr && term[0] != '\0' && std::strcmp(term, "dumb") != 0;
  state->have_before = tcgetattr(state->fd, &state->before) == 0;
  state->el = el_init("morvax", in, out, stderr);
  state->history = history_winit();
  if (state->el == nullptr || state->history == nullptr) return nullptr;

  HistEventW event;
  history_w(state->history, &event, H_SETSIZE, INT_MAX);  // every line of the session
  history_w(state->history, &event, H_SETUNIQUE, 1);
  EditLine* el = state->el;
  el_set(el, EL_CLIENTDATA, state.get());
  el_set(el, EL_SIGNAL, 0);
  el_set(el, EL_EDITOR, "emacs");
  el_set(el, EL_PROMPT, &PromptText);
  el_set(el, EL_GETCFN, &GetChar);
  el_wset(el, EL_HIST, &history_w, state->history);
  el_wset(el, EL_ADDFN, L"morvax-complete", L"Complete a file name", &CompleteName);
  el_wset(el, EL_ADDFN, L"morvax-act", L"Put in text as it stands", &Act);
  el_source(el, nullptr);  // ~/.editrc, or $EDITRC
  // CR and LF reach the reader as they are, so that a pasted CR LF is one line end.
  el_set(el, EL_SETTY, "-d", "-icrnl", "-inlcr", nullptr);

  SetHandler(SIGWINCH, &state->old_winch);
  SetHandler(SIGTSTP, &state->old_tstp);
  SetHandler(SIGCONT, &state->old_cont);
  state->handlers_set = true;
  el_set(el, EL_PREP_TERM, 1);  // the editor's mode from now on: see the header
  return std::unique_ptr<LineEditor>(new LineEditor(std::move(state)));
}

LineEditor::Status LineEditor::Read(const char* prompt, Asks asks, std::string& line) {
  State& s = *state_;
  s.prompt = prompt;
  s.at_view = asks == Asks::kCommand && s.print_view != nullptr;
  s.input_ended = false;
  s.pending_count = s.pending_at = 0;
  s.insert.clear();
  s.paste_bytes.clear();
  s.redisplay = s.pasted = false;
  TakeTerminalEvents(s, false);
  PasteModeOn(s);
  el_wset(s.el, EL_BIND, L"^I", asks == Asks::kFileName ? L"morvax-complete" : L"ed-insert",
          nullptr);
  // Bound at every read, so that no other binding (a "bind -v" typed at ed-command) drops them.
  const wchar_t act[] = {kAct, 0};
  const wchar_t newline[] = {kNewline, 0};
  el_wset(s.el, EL_BIND, act, L"morvax-act", nullptr);
  el_wset(s.el, EL_BIND, newline, L"ed-newline", nullptr);
  el_wset(s.el, EL_BIND, L"-a", act, L"morvax-act", nullptr);
  el_wset(s.el, EL_BIND, L"-a", newline, L"ed-newline", nullptr);

  int count = 0;
  const wchar_t* text = el_wgets(s.el, &count);
  // el_wgets gives the terminal back at the end of every line: the editor keeps it.
  el_set(s.el, EL_PREP_TERM, 1);
  GiveBackClearRow(s);
  if (count == 0 && !s.input_ended) {
    std::fputc('\n', s.out);  // Ctrl-D: libedit echoed "^D", and what follows goes below it
    std::fflush(s.out);
  }
  if (text == nullptr || count <= 0) return count < 0 ? Status::kFailed : Status::kEnd;
  line = ToBytes(text, text + count);

  std::wstring entry(text, static_cast<std::size_t>(count));
  if (!entry.empty() && entry.back() == L'\n') entry.pop_back();
  if (!entry.empty()) {
    HistEventW event;
    history_w(s.history, &event, H_ENTER, entry.c_str());
  }
  return s.pasted ? Status::kPasted : Status::kLine;
}

void LineEditor::Leave() {
  State& s = *state_;
  Release(s);
  sigaction(SIGTSTP, &s.old_tstp, nullptr);  // Ctrl-Z stops the command and the editor
}

void LineEditor::Return() {
  State& s = *state_;
  SetHandler(SIGTSTP, nullptr);
  stop_asked = 0;
  continued = 0;
  Retake(s);
}

#endif
