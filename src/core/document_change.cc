// The line store's record of what one command changed, as one splice: the journal of a session
// at a terminal writes it down (Document::TakeChange).
#include <algorithm>
#include <utility>

#include "core/document.h"

// The splice so far covers [from, new_end) of the document before this change, which stood
// where [from, old_end) stood; this change puts `added` lines for `removed` at `at`. The two
// together cover from the first of both to the end of either, moved by this change; an end
// past the grid is the grid's end, since whatever moved there fell out.
void Document::Mark(int at, int removed, int added) {
  Touched& t = touched_;
  if (t.whole) return;
  if (!t.any) t = {true, false, at, at, at, lines_};
  if (added > removed) {
    // The lines pushed past the grid's end are gone for good: a later removal brings in empty
    // lines, not them.
    int out = lines_ - (added - removed);
    t.lost = std::min(t.lost, out >= t.new_end ? out - t.new_end + t.old_end : t.old_end);
  }
  int end = std::max(t.new_end, at + removed);
  t.old_end += std::max(0, at + removed - t.new_end);
  t.new_end = end + added - removed;
  t.from = std::min(t.from, at);
  if (t.new_end > lines_) t.new_end = t.old_end = lines_;
  t.old_end = std::min(t.old_end, lines_);
}

Document::Change Document::TakeChange() {
  Touched t = std::exchange(touched_, {});
  // Where the first old line that fell out would stand, after the lines the change carries.
  int blank = std::min(lines_, t.new_end + std::max(0, t.lost - t.old_end));
  return {t.any, t.whole, t.from, t.old_end - t.from, t.new_end - t.from, blank};
}
