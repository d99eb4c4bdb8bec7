// The editor's reads: every read in app/ goes through these. They are the stream's reads
// (core/io.h), with the word the editor says when Ctrl-C leaves a read at a terminal.
#pragma once

#include "core/io.h"

struct Editor;

/// Reads one line as core's ReadInputLine does (same limits, same results); a Ctrl-C at a terminal
/// (kInterrupted) is said at once: "Interrupted", and so is a NUL byte in the line (HeldNul):
/// in a file name it refuses the name, elsewhere the text after it is dropped. When line
/// editing stops at the read, that is said on standard error ("Line editing is off") and the
/// line is read from the stream instead.
Read ReadLine(Editor& ed, char* buf, int limit, Asks asks = Asks::kText);

/// Says on standard error that line editing is off, with the step that failed, and drops the
/// line editor: every read from now on takes the stream as it is.
void EditingOff(Editor& ed, const char* step);

/// Reads a one-line answer of at most limit - 1 characters, its line end removed.
Read ReadAnswer(Editor& ed, char* buf, int limit, Asks asks = Asks::kText);

/// Reads a numeric answer (at most 7 characters of its line) and converts it as strtol does in
/// base 10: an answer without digits is 0. `value` is set only when a line was read.
Read ReadNumber(Editor& ed, int& value);

/// True when `read` gave a line typed whole and `answer`, the text it read, is exactly `yes`:
/// a line that was pasted, held a NUL byte or was cut short never says yes. Every yes/no
/// question decides through this.
bool IsYes(Read read, const char* answer, const char* yes);

/// A Ctrl-C at a terminal that stopped a slow step (a load, a save into a FIFO) rather than a
/// read: forgotten and said at once, "Interrupted", as a read says it. True when there was one.
bool TakeInterrupt(Editor& ed);
