// Helpers that the tests, the fuzz targets and the benchmarks share and the program does not
// use: documents made from strings and images of documents, with no file in between.
#pragma once

#include <span>
#include <string_view>

#include "core/document.h"
#include "core/io.h"
#include "doc/load.h"

struct Editor;

/// Writes the document's saved form (every line from 0 to DocLength, each followed by a
/// newline) into `image`, which holds exactly ImageSize(doc) bytes.
void FormatLines(const Document& doc, std::span<char> image);

/// Empties the document and places the lines of `text` in it, split as a load splits them,
/// dropping whatever does not fit in the grid. The text is copied into a block of the
/// document's. False when the memory cannot be had: the document is then left as it was.
bool ParseLines(std::string_view text, Document& doc);

/// Splits `text` as a load does and prints what the load says of it: a warning for each line
/// that is split, then the number of lines.
LineCount MarkLines(std::string_view text, int lines, int lsize, Io& io);

/// Loads a file's `bytes` as LoadFile does once it has read them: the split warnings, the line
/// count, the partial-load question (read from ed.io) and the placement. True when the
/// document now holds them.
bool LoadBytes(Editor& ed, std::string_view bytes);
