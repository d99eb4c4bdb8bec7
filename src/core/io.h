// The editor's two streams and the reads and writes every subsystem uses on them. Nothing here
// knows about commands: it reads lines with byte limits and prints whole lines.
#pragma once

#include <cstdio>

struct Io {
  std::FILE* in = nullptr;
  std::FILE* out = nullptr;
  bool at_end = false;  // a read has met the end of input (or failed); no further reads
};

/// Reads one line like fgets: at most limit - 1 bytes, the line end included when it fits; the
/// rest of a longer line stays for the next read. Output is flushed first. Returns false at end
/// of input or on a read error, leaving buf empty: a failed read never yields the last answer.
bool ReadLine(Io& io, char* buf, int limit);

/// Cuts a text at its first line feed.
void StripLineEnd(char* text);

/// Reads a numeric answer (8-byte buffer: at most 7 characters) and converts it as strtol does
/// in base 10; an answer without digits is 0. Returns false at end of input.
bool ReadNumber(Io& io, char (&answer)[8], int& value);

/// Reads a one-line answer of at most limit - 1 characters with its line end removed.
bool ReadAnswer(Io& io, char* buf, int limit);

/// Prints a text followed by a line end.
void Line(Io& io, const char* text);

/// printf to the output stream.
void Print(Io& io, const char* format, ...) __attribute__((format(printf, 2, 3)));
