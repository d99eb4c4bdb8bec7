// Suspend, resume and resize: the handlers record SIGTSTP, SIGCONT and SIGWINCH, and the
// reads act on them (TakeTerminalEvents, WaitForInput), with the terminal's modes around them.
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <string>

#include "core/signals.h"
#include "term/line_editor_state.h"

namespace line_editing {
namespace {

// The handlers only record; the reads act on what they recorded.
volatile std::sig_atomic_t resized = 0;
volatile std::sig_atomic_t stop_asked = 0;  // Ctrl-Z
volatile std::sig_atomic_t continued = 0;   // SIGCONT: the terminal may be in another's mode
void NoteTerminalEvent(int signal) {
  if (signal == SIGWINCH) resized = 1;
  if (signal == SIGTSTP) stop_asked = 1;
  if (signal == SIGCONT) {
    continued = 1;
    stop_asked = 0;  // a `fg` before the editor stopped: no stop (see Suspend)
  }
}

void SetHandler(int signal, struct sigaction* old) {
  struct sigaction action = {};
  action.sa_handler = &NoteTerminalEvent;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // none of them interrupts the work of a command
  sigaction(signal, &action, old);
}

// Ctrl-Z: the terminal goes back, and the program stops as it would without a handler, with
// the rest of its process group, which the same Ctrl-Z stopped at once (an orphaned process
// group does not stop), so that `fg` brings them back together. The stop is made pending first,
// with SIGTSTP and SIGCONT held back: a SIGCONT that comes before the editor stops (a `fg`
// typed quickly) takes the pending stop away, and its handler records it once they are let
// in. A shell that saw the calling program stop has taken the terminal back already: the
// terminal is put back only while the editor's group still has it, SIGTTOU held back meanwhile,
// so that the shell's own modes are never changed and the restore never waits to be let.
void Suspend(State& s) {
  if (s.before_stop) s.before_stop();
  sigset_t held;
  sigset_t before;
  sigemptyset(&held);
  for (int signal : {SIGTSTP, SIGCONT, SIGTTOU}) sigaddset(&held, signal);
  sigprocmask(SIG_BLOCK, &held, &before);
  struct sigaction stop = {};
  stop.sa_handler = SIG_DFL;
  sigemptyset(&stop.sa_mask);
  sigaction(SIGTSTP, &stop, nullptr);
  raise(SIGTSTP);
  if (tcgetpgrp(s.fd) == getpgrp()) Release(s);
  sigset_t let_in = before;
  sigdelset(&let_in, SIGTSTP);
  sigdelset(&let_in, SIGCONT);
  sigprocmask(SIG_SETMASK, &let_in, nullptr);  // stops here, unless a SIGCONT came first
  sigprocmask(SIG_SETMASK, &before, nullptr);
  SetHandler(SIGTSTP, nullptr);
}

}  // namespace

void SetHandlers(State& s) {
  SetHandler(SIGWINCH, &s.old_winch);
  SetHandler(SIGTSTP, &s.old_tstp);
  SetHandler(SIGCONT, &s.old_cont);
  s.handlers_set = true;
}

void LetStop(State& s) {
  sigaction(SIGTSTP, &s.old_tstp, nullptr);
}

void CatchStop() {
  SetHandler(SIGTSTP, nullptr);
  stop_asked = 0;
  continued = 0;
}

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
    s.ahead_count = s.chunk_at = s.chunk_end = 0;
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
      if (s.print_above) s.print_above(s.asks);
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

namespace {

// The columns a character of the line takes as libedit shows it: a control character as ^X, a
// character that cannot be printed as \U+XXXX (or \U+XXXXX).
int ShownWidth(wchar_t c) {
  if (c < 0x20 || c == 0x7f) return 2;
  int width = iswprint(static_cast<wint_t>(c)) ? wcwidth(c) : -1;
  if (width >= 0) return width;
  return c > 0xffff ? 8 : 7;
}

// Where the cursor is on a terminal `width` columns wide, in rows below the prompt's first
// row, with the prompt and the line laid out as libedit lays them out: a character that does
// not fit the rest of a row starts the next one, and a tab goes on to the next multiple of 8.
int CursorRow(const State& s, int width) {
  if (width <= 0) return 0;
  int row = 0;
  int column = 0;
  auto put = [&](int w) {
    if (column + w > width) {
      ++row;
      column = 0;
    }
    column += w;
    if (column >= width) {
      ++row;
      column = 0;
    }
  };
  std::mbstate_t state = {};
  for (std::size_t at = 0; at < s.prompt.size();) {
    wchar_t c = 0;
    std::size_t n = std::mbrtowc(&c, s.prompt.data() + at, s.prompt.size() - at, &state);
    if (n == 0 || n > s.prompt.size() - at) {  // a byte that began no character
      c = L'?';
      n = 1;
      state = {};
    }
    put(ShownWidth(c));
    at += n;
  }
  const LineInfoW* line = el_wline(s.el);
  for (const wchar_t* c = line->buffer; c < line->cursor; ++c) {
    if (*c == L'\t') {
      do put(1);
      while (column % 8 != 0);
    } else {
      put(ShownWidth(*c));
    }
  }
  return row;
}

}  // namespace

// A resize: the terminal has rewrapped the rows of the prompt and the line to its new width,
// as terminals now do, so the cursor's row counts at that width. The cursor goes up to the
// prompt's first row, the screen is cleared from there down, and libedit draws the prompt
// and the line there again, with nothing of the earlier drawing left above or below them.
void RedrawResized(State& s) {
  int width = 0;
  el_get(s.el, EL_GETTC, "co", &width);
  const char* up = nullptr;
  const char* clear = nullptr;
  el_get(s.el, EL_GETTC, "up", &up);
  el_get(s.el, EL_GETTC, "cd", &clear);
  for (int row = CursorRow(s, width); row > 0 && up != nullptr; --row) std::fputs(up, s.out);
  std::fputc('\r', s.out);
  if (clear != nullptr) std::fputs(clear, s.out);
  el_set(s.el, EL_REFRESH);
}

// Waits until the terminal has input; fails with errno EINTR once a signal that the editor acts
// on has been recorded, even one that came before the wait: those signals are let in only
// during ppoll. A suspend, a continue and a resize are taken here; with `attend`, a redraw they
// ask for ends the wait (kAttention).
Got WaitForInput(State& s, bool attend) {
  sigset_t acted_on;
  sigset_t before;
  sigemptyset(&acted_on);
  for (int signal : {SIGINT, SIGHUP, SIGTERM, SIGTSTP, SIGCONT, SIGWINCH}) {
    sigaddset(&acted_on, signal);
  }
  sigprocmask(SIG_BLOCK, &acted_on, &before);
  Got result = Got::kInput;
  for (;;) {
    if (PendingSignal() != 0) {
      result = Got::kFailed;
      errno = EINTR;
      break;
    }
    TakeTerminalEvents(s, true);
    if (attend && s.redisplay) {
      result = Got::kAttention;
      break;
    }
    pollfd input = {s.fd, POLLIN, 0};
    int ready = ppoll(&input, 1, nullptr, &before);
    if (ready > 0) break;
    if (ready < 0 && errno != EINTR) {
      result = Got::kFailed;
      break;
    }
  }
  int err = errno;
  sigprocmask(SIG_SETMASK, &before, nullptr);
  errno = err;
  return result;
}

}  // namespace line_editing
