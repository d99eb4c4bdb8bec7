// Suspend, resume and resize: the handlers record SIGTSTP, SIGCONT and SIGWINCH, and the
// reads act on them (TakeTerminalEvents, WaitForInput), with the terminal's modes around them.
#include <poll.h>
#include <signal.h>
#include <termios.h>

#include <cerrno>
#include <csignal>
#include <string>

#include "core/signals.h"
#include "term/line_editor_state.h"

namespace line_editing {
namespace {

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
