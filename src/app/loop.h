// The command loop's own commands; the loop itself is declared in app/editor.h.
#pragma once

struct Editor;

/// Asks for confirmation; only the answer "q" ends the program.
void Quit(Editor& ed);

/// The text printed by --help.
extern const char* const kUsage;
