#include "core/signals.h"

#include <poll.h>
#include <signal.h>

#include <cerrno>
#include <csignal>
#include <initializer_list>

namespace {

volatile std::sig_atomic_t g_interrupt = 0;  // SIGINT
volatile std::sig_atomic_t g_terminate = 0;  // SIGHUP or SIGTERM, the first to come

// SIGPIPE and SIGXFSZ are caught only so that the write that met a closed pipe or the file-size
// limit fails (EPIPE, EFBIG) instead of ending the program: the write says what happened.
extern "C" void NoteSignal(int signal) {
  if (signal == SIGINT) {
    g_interrupt = 1;
  } else if (signal != SIGPIPE && signal != SIGXFSZ && g_terminate == 0) {
    g_terminate = signal;
  }
}

}  // namespace

void InstallSignalHandlers() {
  struct sigaction action = {};
  action.sa_handler = NoteSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a read waiting at the terminal returns at once
  // Caught, not ignored: a launched command starts with the default actions again.
  for (int signal : {SIGINT, SIGHUP, SIGTERM, SIGPIPE, SIGXFSZ}) {
    sigaction(signal, &action, nullptr);
  }
}

void LetEndingSignalsEnd(bool terminal) {
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(SIGHUP, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  if (!terminal) sigaction(SIGINT, &action, nullptr);
}

Status WaitReady(int fd, short events, WaitEnds ends, bool terminal) {
  sigset_t handled;
  sigset_t before;
  sigemptyset(&handled);
  for (int signal : {SIGINT, SIGHUP, SIGTERM}) sigaddset(&handled, signal);
  sigprocmask(SIG_BLOCK, &handled, &before);
  int result = 0;
  for (;;) {
    bool stop = ends == WaitEnds::kAnySignal ? PendingSignal() != 0 : EndingSignalPending(terminal);
    if (stop) {
      result = EINTR;
      break;
    }
    pollfd ready = {fd, events, 0};
    int n = ppoll(&ready, 1, nullptr, &before);
    if (n > 0) break;
    if (n < 0 && errno != EINTR) {
      result = errno;
      break;
    }
  }
  sigprocmask(SIG_SETMASK, &before, nullptr);
  return result;
}

int PendingSignal() {
  if (g_terminate != 0) return g_terminate;
  return g_interrupt != 0 ? SIGINT : 0;
}

bool EndingSignalPending(bool terminal) {
  int signal = PendingSignal();
  return signal != 0 && !(signal == SIGINT && terminal);
}

void ClearInterrupt() {
  g_interrupt = 0;
}
