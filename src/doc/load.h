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
  int splits = 0;          // lines that ended because they were too long
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

/// What MarkLines prints, for a text already split into `count`: the walk is made again only
/// when there are split warnings to print.
void ReportLines(std::string_view text, const LineCount& count, int lines, int lsize, Io& io);

/// The partial-load question, with the loaded share in percent. True only for the answer "Y";
/// false for any other answer and when the read fails (nothing more is printed then).
bool DataWarning(Io& io, float percent);

/// Splits `text` as MarkLines does, without a word, into `incoming`: the lines point into
/// the text, which is not copied. False when the memory for the index cannot be had.
bool PrepareLines(std::string_view text, int lines, int lsize, Document::Incoming& incoming,
                  LineCount& count);

/// Empties the document and places the lines of `text` in it, as MarkLines splits it,
/// dropping whatever does not fit in the grid. The text is copied into a block of the
/// document's. False when the memory cannot be had: the document is then left as it was.
bool ParseLines(std::string_view text, Document& doc);

/// Opens a file for reading. Returns 0 or the errno of the failure: EINTR when a signal the
/// editor acts on (core/signals.h) has come, before or while the open waits (a FIFO without a
/// writer); other interrupted opens are tried again.
int OpenToRead(const char* name, Fd& fd);

/// Reads an open file whole into `block` (which it allocates): the size is taken by seeking,
/// and a file that cannot seek (a pipe, a FIFO) is read to its end. Returns 0 or an errno:
/// EINTR when a signal the editor acts on has come, before or during a read; the read is then
/// given up and what was read is of no use.
int ReadAll(int fd, Block& block, std::size_t& size);
