#include "app/launch.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/editor.h"
#include "app/file_commands.h"
#include "app/messages.h"
#include "app/reads.h"
#include "core/fd.h"
#include "settings/consent.h"
#include "term/caret.h"

CommandSet SetCommand(Editor& ed) {
  if (ed.launch_command[0] != '\0') {
    Print(ed.io, msg::kCommandInMemory, Shown(ed.io, ed.launch_command).c_str());
  } else {
    Line(ed.io, msg::kNoCommand);
  }
  Line(ed.io, msg::kCommandPrompt);

  char typed[kNameSize];
  Read read = ReadLine(ed, typed, kNameSize);
  if (!IsLine(read)) return CommandSet::kKept;
  if (IsCut(read)) {
    Line(ed.io, msg::kCommandTooLong);
    return CommandSet::kTooLong;
  }
  // A plain Enter is one byte and a single character with its line end two: a new command
  // has at least two characters, so the stored one can never become empty.
  if (std::strlen(typed) < 3) return CommandSet::kKept;
  std::strncpy(ed.launch_command, typed, kNameSize);
  StripLineEnd(ed.launch_command);
  ed.launch_from_rc = false;
  return CommandSet::kReplaced;
}

namespace {

// Runs `command` through the shell and waits for it, as std::system does: SIGQUIT is ignored
// meanwhile, and so is SIGINT at a terminal, where Ctrl-C is meant for the command. Elsewhere
// a SIGINT stays recorded, to be taken once the command is over. The command's own status is
// its business; the editor goes on either way.
void RunShell(const char* command, bool terminal) {
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  struct sigaction old_quit, old_interrupt;
  sigaction(SIGQUIT, &ignore, &old_quit);
  if (terminal) sigaction(SIGINT, &ignore, &old_interrupt);
  // The command starts with both signals as they are by default.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGQUIT);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>("--"),
                  const_cast<char*>(command), nullptr};
  pid_t child;
  if (posix_spawn(&child, "/bin/sh", nullptr, &attributes, argv, environ) == 0) {
    int status;
    RetryOnEintr([&] { return waitpid(child, &status, 0); });
  }
  posix_spawnattr_destroy(&attributes);
  if (terminal) sigaction(SIGINT, &old_interrupt, nullptr);
  sigaction(SIGQUIT, &old_quit, nullptr);
}

constexpr int kConsentAnswerSize = 16;  // 15 characters a read

// A command from the settings file runs, when standard input is a terminal (whatever standard
// output is), only when the user said so, for that file and that exact command, in this
// session or an earlier one.
[[nodiscard]] bool Consented(Editor& ed) {
  if (!ed.launch_from_rc || !ed.io.terminal) return true;
  if (IsAllowed(ed.rc_path, ed.launch_command)) return true;
  Print(ed.io, msg::kConsentQuestion, Shown(ed.io, ed.rc_path.c_str()).c_str(),
        Shown(ed.io, ed.launch_command).c_str());
  char answer[kConsentAnswerSize];
  if (!IsYes(ReadAnswer(ed, answer, kConsentAnswerSize), answer, "y")) {
    return false;
  }
  // A record that cannot be written only means that the next session asks again.
  (void)RecordAllowed(ed.rc_path, ed.launch_command);
  return true;
}

}  // namespace

void CommandExec(Editor& ed) {
  if (ed.launch_command[0] == '\0') {
    if (SetCommand(ed) == CommandSet::kTooLong || ed.launch_command[0] == '\0') return;
  }
  if (!Consented(ed)) return;
  // Nothing was saved (no name, or the input ended at the name prompt), so nothing is run.
  if (Save(ed) == Saved::kAbandoned) return;

  // Whatever the editor printed must reach the terminal or pipe before the command's output.
  std::fflush(ed.io.out);
  if (ed.io.editor != nullptr) ed.io.editor->Leave();
  if (ed.options.run_shell) {
    ed.options.run_shell(ed.launch_command);
  } else {
    RunShell(ed.launch_command, ed.io.terminal);
  }
  if (ed.io.editor != nullptr) ed.io.editor->Return();
}

void CommandEdit(Editor& ed) {
  (void)SetCommand(ed);  // it says what became of the command
}
