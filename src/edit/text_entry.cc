#include "edit/text_entry.h"

#include <algorithm>
#include <cstring>

Entry Replace(int line, int position, const char* text, Document& doc, bool shortened) {
  if (line < 0 || line >= doc.lines()) return Entry::kInvalidLine;
  if (position >= doc.lsize() - 1) return Entry::kAtEndOfLine;
  int len = static_cast<int>(std::strlen(text));
  int room = doc.lsize() - 1 - position;
  if (!doc.WriteAt(line, position, {text, static_cast<std::size_t>(std::min(len, room))})) {
    return Entry::kNoMemory;
  }
  return len > room || shortened ? Entry::kShortened : Entry::kWritten;
}

InsertFit CheckInsert(int line, int position, std::string_view text, const Document& doc) {
  int len = static_cast<int>(text.size());
  int n = static_cast<int>(doc.text(line).size());
  int max = doc.lsize() - 1;
  InsertFit fit;
  fit.count = len;
  if (position + len > max) {
    fit.past_end = true;
    fit.count = max - position;
  }
  if (n + len > max) {
    fit.line_full = true;
    fit.count = std::min(fit.count, max - n);
  }
  return fit;
}

// Insert at column 2 of "abcdef" with "XY":  ab|cdef  ->  abXYcdef. A line shorter than the
// column is first padded with spaces.
bool Insert(int line, int position, int count, std::string_view text, Document& doc) {
  return doc.InsertAt(line, position, text.substr(0, static_cast<std::size_t>(count)));
}
