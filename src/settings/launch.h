// The stored shell command: shown and replaced by `command_edit`, run after a save by
// `command_exec`.
#pragma once

struct Editor;

/// Shows the stored command and reads a replacement; 0 when the current one is kept.
int SetCommand(Editor& ed);

void CommandExec(Editor& ed);
void CommandEdit(Editor& ed);
