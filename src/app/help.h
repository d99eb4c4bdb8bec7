// The help menu: the grid's limits, then four sections listing every command with the key in
// force. The menu letters are fixed; they do not follow the command keys.
#pragma once

struct Editor;

/// Runs the menu until the answer "x" or the end of input. Answers are read 15 characters at a
/// time and judged by their first character alone.
void Help(Editor& ed);
