// Reading a file into the grid: the `open` dialogue, the file read, and the splitting of the
// text into line slots with its warnings.
#pragma once

struct Editor;

/// Loads the file named by the open name; with `at_startup` 0 it first runs the `open`
/// dialogue. May end the program (ed.Stop(1)) when the user declines a partial load.
void Open(Editor& ed, int at_startup);

/// The `open` command: the dialogue, the load, and the copy of the open name into the
/// current file name.
void OpenCommand(Editor& ed);
