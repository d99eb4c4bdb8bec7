#include "edit/clipboard.h"

#include <cstring>

namespace {

// Lowers `count` to the characters of the line from `at` to its end.
ClipCheck Available(const Document& doc, Pos at, int& count) {
  int rest = static_cast<int>(doc.text(at.line).size()) - at.column;
  if (rest <= 0) return ClipCheck::kNothing;
  if (count <= rest) return ClipCheck::kGo;
  count = rest;
  return ClipCheck::kShortened;
}

// The checks keep `count` within the line's text, so the copy stays inside both buffers.
void Fill(const Document& doc, Pos at, int count, char* clip) {
  LineView text = doc.text(at.line);
  if (count > 0) std::memcpy(clip, text.data() + at.column, count);
  clip[count] = '\0';
}

}  // namespace

Clipped Copy(const Document& doc, Pos at, int count, char* clip) {
  ClipCheck check = Available(doc, at, count);
  if (check != ClipCheck::kNothing) Fill(doc, at, count, clip);
  return {check, count};
}

// A count beyond the rest of the line's room is refused; one merely beyond the text is
// shortened.
Clipped Cut(Document& doc, Pos at, int count, char* clip, const Keep& keep) {
  int room = doc.lsize() - at.column;
  if (count > room) return {ClipCheck::kTooLong, room};
  ClipCheck check = Available(doc, at, count);
  if (check == ClipCheck::kNothing) return {check, count};
  KeepForUndo(keep, doc);
  Fill(doc, at, count, clip);
  doc.CutAt(at.line, at.column, count);
  return {check, count};
}

Clipped Paste(Document& doc, Pos at, const char* clip, const Keep& keep) {
  int len = static_cast<int>(std::strlen(clip));
  if (len == 0) return {ClipCheck::kNothing, 0};
  int room = doc.lsize() - 1 - at.column;
  Clipped paste{len <= room ? ClipCheck::kGo : ClipCheck::kShortened, len <= room ? len : room};
  KeepForUndo(keep, doc);
  paste.no_memory =
      !doc.WriteAt(at.line, at.column, {clip, static_cast<std::size_t>(paste.count)}).ok();
  return paste;
}
