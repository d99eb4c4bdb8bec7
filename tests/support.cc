#include "support.h"

#include <cstdlib>
#include <cstring>

#include "app/editor.h"
#include "app/file_commands.h"
#include "app/messages.h"

void FormatLines(const Document& doc, std::span<char> image) {
  std::size_t at = 0;
  int last = DocLength(doc);
  for (int i = 0; i <= last; ++i) {
    std::string_view text = doc.text(i).view();
    if (!text.empty()) std::memcpy(image.data() + at, text.data(), text.size());
    at += text.size();
    image[at++] = '\n';
  }
}

namespace {

// A copy of `bytes` in a block of its own, as a file's bytes are read; null without memory.
Block CopyOf(std::string_view bytes) {
  Block block(static_cast<char*>(std::malloc(bytes.size() + 1)), &std::free);
  if (block != nullptr && !bytes.empty()) std::memcpy(block.get(), bytes.data(), bytes.size());
  return block;
}

}  // namespace

bool ParseLines(std::string_view text, Document& doc) {
  Block block = CopyOf(text);
  if (block == nullptr) return false;
  std::string_view copy(block.get(), text.size());
  Document::Incoming incoming;
  LineCount count;
  if (!PrepareLines(copy, doc.lines(), doc.lsize(), incoming, count).ok()) return false;
  doc.Adopt(incoming, block, text.size());
  return true;
}

LineCount MarkLines(std::string_view text, int lines, int lsize, Io& io) {
  LineCount count =
      WalkLines(text, lines, lsize, [&io](int index, std::size_t, std::size_t, bool split) {
        if (split) Print(io, msg::kLineSplit, index + 1);
      });
  Print(io, msg::kLinesGenerated, count.lines);
  return count;
}

bool LoadBytes(Editor& ed, std::string_view bytes) {
  Block block = CopyOf(bytes);
  if (block == nullptr) return false;
  std::string_view copy(block.get(), bytes.size());
  Document::Incoming incoming;
  LineCount count;
  std::string_view text = copy.substr(0, UncutLength(copy));
  if (!PrepareLines(text, ed.lines(), ed.lsize(), incoming, count).ok()) return false;
  return PlaceLines(ed, copy, incoming, count, block) == Loaded::kReplaced;
}
