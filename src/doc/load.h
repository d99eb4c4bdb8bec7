// Reading a file into the grid: the `open` dialogue, the file read, and the splitting of the
// text into line slots with its warnings. The splitting works on plain bytes and knows no
// files; writing documents back is doc/save.h.
#pragma once

#include <cstddef>
#include <string_view>

class Document;
struct Editor;
struct Io;

/// How a text divides into line slots.
struct LineCount {
  int lines = 0;           // lines found: never more than the grid has slots
  std::size_t loaded = 0;  // bytes of the text that those lines cover
  bool partial = false;    // some of the text belongs to no line (the grid is full)
};

/// The text of a file's bytes: the final newline dropped (a last byte that is no newline is
/// kept), and cut at the first NUL byte.
std::string_view TextOf(std::string_view bytes);

/// Finds how `text` splits into at most `lines` lines of at most `lsize` - 1 characters:
/// newlines end lines, and a line that would grow longer is split. Prints a warning for each
/// split, then the number of lines.
LineCount MarkLines(std::string_view text, int lines, int lsize, Io& io);

/// The partial-load question, with the loaded share in percent. True only for the answer "Y";
/// false for any other answer and at end of input.
bool DataWarning(Io& io, float percent);

/// Empties the document and places the lines of `text` in its slots, as MarkLines splits it,
/// dropping whatever does not fit in the grid. Returns false if a line would not fit its slot
/// (the splitting rule prevents it; checked all the same).
bool ParseLines(std::string_view text, Document& doc);

/// Replaces the document with a file's bytes: the split warnings, the line count, the
/// partial-load question and the placement. Ends the program (status 1) when a partial load
/// is declined (the document is then left as it was) or a line does not fit its slot.
void LoadBytes(Editor& ed, std::string_view bytes);

/// Loads the file named by the open name; with `at_startup` 0 it first runs the `open`
/// dialogue. Returns false when the dialogue was left without a name to open (the answer "x",
/// the end of input, or a save before the open that got no name); the open name is then
/// unchanged. May end the program (see LoadBytes).
bool Open(Editor& ed, int at_startup);

/// The `open` command: the dialogue, the load, and the copy of the open name into the
/// current file name unless the dialogue was left.
void OpenCommand(Editor& ed);
