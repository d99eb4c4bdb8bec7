// The signals the editor handles. The handlers only record which signal came; reads are
// interrupted by it (no automatic restart), and ordinary code decides what it means.
#pragma once

/// Installs the handlers for SIGINT, SIGHUP, SIGTERM and SIGPIPE (a closed output then shows
/// as a failed write instead of killing the program). SIGINT is recorded like the others;
/// whether it ends the program is the caller's decision.
void InstallSignalHandlers();

/// The signal recorded and not yet taken, or 0. A terminating signal (SIGHUP, SIGTERM) takes
/// precedence over SIGINT.
int PendingSignal();

/// True when a recorded signal ends the session: SIGHUP or SIGTERM, or SIGINT unless standard
/// input is a terminal (`terminal`), where Ctrl-C only leaves what is waiting for the user.
bool EndingSignalPending(bool terminal);

/// Forgets a recorded SIGINT (the one signal that does not end the program at a terminal).
void ClearInterrupt();
