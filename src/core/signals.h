// The signals the editor handles. The handlers only record which signal came; reads are
// interrupted by it (no automatic restart), and ordinary code decides what it means.
#pragma once

#include "core/status.h"

/// Installs the handlers for SIGINT, SIGHUP, SIGTERM, SIGPIPE and SIGXFSZ (a closed output,
/// or a write past the file-size limit, then shows as a failed write instead of killing the
/// program). SIGINT is recorded like the others; whether it ends the program is the caller's
/// decision.
void InstallSignalHandlers();

/// From now on SIGHUP and SIGTERM (and SIGINT, unless standard input is a terminal) end the
/// program at once, as without a handler: once the unsaved text is safe on disk, a second one
/// ends the session even where a message waits for a reader that reads no more.
void LetEndingSignalsEnd(bool terminal);

/// The signal recorded and not yet taken, or 0. A terminating signal (SIGHUP, SIGTERM) takes
/// precedence over SIGINT.
int PendingSignal();

/// True when a recorded signal ends the session: SIGHUP or SIGTERM, or SIGINT unless standard
/// input is a terminal (`terminal`), where Ctrl-C only leaves what is waiting for the user.
bool EndingSignalPending(bool terminal);

/// Forgets a recorded SIGINT (the one signal that does not end the program at a terminal).
void ClearInterrupt();

/// Which recorded signal ends a wait (WaitReady): any, for a read, which then says what the
/// signal means; or only one that ends the session, for a write, which goes on past a Ctrl-C
/// at a terminal.
enum class WaitEnds { kAnySignal, kEndingSignal };

/// Waits until the descriptor `fd`, which said EAGAIN, is ready for `events` (POLLIN or
/// POLLOUT); O_NONBLOCK stays as it is, since other processes share it. The handled signals
/// are let in only during the wait, so that one recorded before it ends it as well. Returns ok
/// when ready, EINTR when a signal that `ends` names is recorded (`terminal`: standard input is
/// a terminal), or the errno of a failed wait.
Status WaitReady(int fd, short events, WaitEnds ends, bool terminal);
