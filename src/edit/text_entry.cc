#include "edit/text_entry.h"

#include <algorithm>

namespace {

// How much of `text` goes into the line at `at`, and why not all of it.
Inserted Fit(const Document& doc, Pos at, std::size_t size) {
  int len = static_cast<int>(size);
  int n = static_cast<int>(doc.text(at.line).size());
  int max = doc.lsize() - 1;
  Inserted fit;
  fit.count = len;
  if (at.column + len > max) {
    fit.past_end = true;
    fit.count = max - at.column;
  }
  if (n + len > max) {
    fit.line_full = true;
    fit.count = std::min(fit.count, max - n);
  }
  return fit;
}

}  // namespace

Entry Replace(Document& doc, Pos at, std::string_view text, bool shortened, const Keep& keep) {
  KeepForUndo(keep, doc);
  if (at.line < 0 || at.line >= doc.lines()) return Entry::kInvalidLine;
  if (at.column >= doc.lsize() - 1) return Entry::kAtEndOfLine;
  int room = doc.lsize() - 1 - at.column;
  if (!doc.WriteAt(at.line, at.column, text.substr(0, static_cast<std::size_t>(room))).ok()) {
    return Entry::kNoMemory;
  }
  return static_cast<int>(text.size()) > room || shortened ? Entry::kShortened : Entry::kWritten;
}

Inserted Insert(Document& doc, Pos at, std::string_view text, const Keep& keep) {
  Inserted fit = Fit(doc, at, text.size());
  if (fit.count <= 0) return fit;
  KeepForUndo(keep, doc);
  fit.no_memory = !doc.InsertAt(at.line, at.column, text.substr(0, fit.count)).ok();
  fit.done = !fit.no_memory;
  return fit;
}

// The tail is handed over as a view of the line: the document reads it before it writes.
Inserted Wrap(Document& doc, Pos at, const Keep& keep) {
  if (at.line >= doc.lines() - 1) return {};
  KeepForUndo(keep, doc);
  LineView text = doc.text(at.line);
  LineView tail = text.substr(std::min(text.size(), static_cast<std::size_t>(at.column)));
  int next = at.line + 1;
  Inserted fit = Fit(doc, {next, 0}, tail.size());
  if (fit.count > 0) fit.no_memory = !doc.InsertAt(next, 0, tail.substr(0, fit.count)).ok();
  if (fit.no_memory) return fit;
  doc.Truncate(at.line, at.column);
  fit.done = true;
  return fit;
}
