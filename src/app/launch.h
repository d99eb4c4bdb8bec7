// The stored shell command: shown and replaced by `command_edit`, run after a save by
// `command_exec`. The command lives in Editor::launch_command for the whole run and is never
// written back to the settings file.
#pragma once

struct Editor;

/// Shows the stored command and reads a replacement. A read of fewer than three bytes (line end
/// included), or the end of input, keeps the current command and returns 0; a command longer
/// than 255 characters is refused with a message and gives -1; otherwise the text read, cut at
/// its line end, becomes the command and the result is 1.
int SetCommand(Editor& ed);

/// `command_exec`: asks for a command when none is held, saves the document, then runs the
/// command through the shell, which shares the editor's terminal, and waits for it. At a
/// terminal a command from the settings file first needs the user's consent ("y"), which is
/// remembered for that file and command; any other answer abandons the command.
void CommandExec(Editor& ed);

/// `command_edit`: SetCommand, whatever it decides.
void CommandEdit(Editor& ed);
