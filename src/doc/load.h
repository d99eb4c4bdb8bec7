// Reading a file into the grid: the file read, and the splitting of the text into line slots
// with its warnings. The splitting works on plain bytes and knows no files; writing documents
// back is doc/save.h.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "core/document.h"
#include "core/fd.h"
#include "core/io.h"

/// How a text divides into line slots.
struct LineCount {
  int lines = 0;           // lines found: never more than the grid has slots
  std::size_t loaded = 0;  // bytes of the text that those lines cover
  bool partial = false;    // some of the text belongs to no line (the grid is full)
};

/// The text of a file's bytes: the final newline dropped (a last byte that is no newline is
/// kept), and cut at the first NUL byte.
std::string_view TextOf(std::string_view bytes);

/// The length the text of a file's bytes has when no NUL byte cuts it: the bytes less a final
/// newline.
std::size_t UncutLength(std::string_view bytes);

/// Finds how `text` splits into at most `lines` lines of at most `lsize` - 1 characters:
/// newlines end lines, and a line that would grow longer is split. Prints a warning for each
/// split, then the number of lines.
LineCount MarkLines(std::string_view text, int lines, int lsize, Io& io);

/// The partial-load question, with the loaded share in percent. True only for the answer "Y";
/// false for any other answer and when the read fails (nothing more is printed then).
bool DataWarning(Io& io, float percent);

/// Empties the document and places the lines of `text` in its slots, as MarkLines splits it,
/// dropping whatever does not fit in the grid.
void ParseLines(std::string_view text, Document& doc);

/// A file's bytes, read whole into one block.
using Block = std::unique_ptr<char, decltype(&std::free)>;

/// Opens a file for reading. Returns 0 or the errno of the failure.
int OpenToRead(const char* name, Fd& fd);

/// Reads an open file whole into `block` (which it allocates): the size is taken by seeking,
/// and a file that cannot seek (a pipe, a FIFO) is read to its end. Returns 0 or an errno.
int ReadAll(int fd, Block& block, std::size_t& size);
