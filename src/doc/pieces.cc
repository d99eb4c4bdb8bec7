#include "doc/pieces.h"

#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "core/bytes.h"

std::size_t ImageSize(const Document& doc) {
  std::size_t size = 0;
  int last = DocLength(doc);
  for (int i = 0; i <= last; ++i) size += doc.text(i).size() + 1;
  return size;
}

namespace {

// Hands the written form of `doc` to `sink`: pieces of kGatherRoom bytes or more as they lie,
// shorter ones gathered in `buffer` (kGatherRoom bytes) first. Allocates nothing.
Status GatherLines(const Document& doc, const Edition& edition, char* buffer,
                   const Pieces::Sink& sink) {
  std::size_t used = 0;
  auto flush = [&] { return used == 0 ? Status() : sink({buffer, std::exchange(used, 0)}); };
  // Gathers short bytes; sends long ones (and what was gathered before them) as they are.
  auto put = [&](std::string_view bytes) -> Status {
    if (bytes.size() >= kGatherRoom || used + bytes.size() > kGatherRoom) {
      if (Status flushed = flush(); !flushed.ok()) return flushed;
    }
    if (bytes.size() >= kGatherRoom) return sink(bytes);
    if (!bytes.empty()) std::memcpy(buffer + used, bytes.data(), bytes.size());
    used += bytes.size();
    return 0;
  };
  int last = DocLength(doc);
  for (int i = 0; i <= last;) {
    edition.Check();
    int next = i;
    LineView run = doc.LoadedRun(i, last, next);
    Status put_run;
    if (!run.empty()) {
      put_run = put(run.view());
      i = next;
    } else {
      put_run = put(doc.text(i).view());
      if (put_run.ok()) put_run = put("\n");
      ++i;
    }
    if (!put_run.ok()) return put_run;
  }
  return flush();
}

}  // namespace

Pieces DocumentPieces(const Document& doc, char* room, char* spare) {
  // The size is the document's as it is now: pieces kept across a change are caught, in builds
  // with assertions, wherever they are gone through.
  auto each = [&doc, room, spare, edition = doc.edition()](const Pieces::Sink& sink) -> Status {
    edition.Check();
    Bytes had(room == nullptr ? static_cast<char*>(std::malloc(kGatherRoom)) : nullptr);
    char* buffer = room != nullptr ? room : had != nullptr ? had.get() : spare;
    if (buffer == nullptr) return ENOMEM;
    return GatherLines(doc, edition, buffer, sink);
  };
  return Pieces(ImageSize(doc), each, spare);
}
