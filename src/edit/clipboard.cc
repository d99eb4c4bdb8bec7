#include "edit/clipboard.h"

#include <cstring>

namespace {

// Characters of `line` from `column` to its end; 0 when the column is at or past the end.
int RestOfLine(const Document& doc, int line, int column) {
  int rest = static_cast<int>(doc.text(line).size()) - column;
  return rest > 0 ? rest : 0;
}

}  // namespace

ClipCheck CheckCopy(int line, int position, int& count, const Document& doc) {
  int rem = RestOfLine(doc, line, position);
  if (rem == 0) return ClipCheck::kNothing;
  if (count <= rem) return ClipCheck::kGo;
  count = rem;
  return ClipCheck::kShortened;
}

ClipCheck CheckCut(int line, int position, int& count, const Document& doc) {
  // A count beyond the rest of the line's room is refused; one merely beyond the text is
  // shortened.
  int room = doc.lsize() - position;
  if (count > room) {
    count = room;
    return ClipCheck::kTooLong;
  }
  int rem = RestOfLine(doc, line, position);
  if (rem == 0) return ClipCheck::kNothing;
  if (count <= rem) return ClipCheck::kGo;
  count = rem;
  return ClipCheck::kShortened;
}

void Cut(int line, int position, int count, Document& doc) {
  doc.CutAt(line, position, count);
}

ClipCheck CheckPaste(int position, int& count, const char* text, int lsize) {
  int len = static_cast<int>(std::strlen(text));
  if (len == 0) return ClipCheck::kNothing;
  count = len;
  if (position + len <= lsize - 1) return ClipCheck::kGo;
  count = lsize - 1 - position;
  return ClipCheck::kShortened;
}

bool Paste(int line, int position, int count, const char* text, Document& doc) {
  return doc.WriteAt(line, position, {text, static_cast<std::size_t>(count)});
}
