// The stored shell command: shown and replaced by `command_edit`, run after a save by
// `command_exec`. The command lives in Editor::launch_command for the whole run and is never
// written back to the settings file.
#pragma once

struct Editor;

enum class [[nodiscard]] CommandSet {
  kReplaced,  // the text read, cut at its line end, is the command now
  kKept,      // a line of fewer than three bytes (line end included), or no line: no change
  kTooLong,   // a command longer than 255 characters, refused with a message
};

/// Shows the stored command and reads a replacement.
CommandSet SetCommand(Editor& ed);

/// `command_exec`: asks for a command when none is held, saves the document, then runs the
/// command through the shell, which shares the editor's terminal, and waits for it. When
/// standard input is a terminal a command from the settings file first needs the user's consent
/// ("y"), which is remembered for that file and command; any other answer abandons the command.
void CommandExec(Editor& ed);

/// `command_edit`: SetCommand, whatever it decides.
void CommandEdit(Editor& ed);
