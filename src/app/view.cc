#include "app/view.h"

#include <cstdio>
#include <cstring>

#include "app/messages.h"
#include "term/caret.h"

namespace {

// The text of a line from column p, or null when the line does not reach column p.
const char* TextFrom(const Document& doc, int line, int p) {
  std::span<const char> slot = doc.slot(line);
  if (LengthFrom(slot, p) == 0) return nullptr;
  return slot.data() + p;
}

}  // namespace

void Display(int cursor_line, int cursor_pos, int before, const Document& doc, int show_numbers,
             const char* file_name, Io& io) {
  Print(io, msg::kHeader, cursor_line + 1, cursor_pos + 1, ShownInPlace(io, file_name));

  int first = cursor_line - before;
  if (first < 0) first = 0;
  long long last = static_cast<long long>(first) + before;
  if (last > doc.lines() - 1) last = doc.lines() - 1;

  bool numbers = show_numbers == 1;
  // Room for "[%i] " with any int.
  char prefix[24] = "> ";
  for (int k = first; k <= last; ++k) {
    const char* text = TextFrom(doc, k, cursor_pos);
    if (k == cursor_line) {
      if (numbers) std::snprintf(prefix, sizeof prefix, "[%i] ", k + 1);
      if (text != nullptr) {
        Print(io, "%s%s\n", prefix, ShownInPlace(io, text));
      } else if (numbers) {
        Print(io, "%s\n", prefix);
      } else {
        Print(io, ">\n");
      }
    } else if (numbers) {
      if (text != nullptr) {
        Print(io, " %i  %s\n", k + 1, ShownInPlace(io, text));
      } else {
        Print(io, " %i\n", k + 1);
      }
    } else if (text != nullptr) {
      Print(io, "  %s\n", ShownInPlace(io, text));
    } else {
      Print(io, "\n");
    }
  }

  int width = numbers ? static_cast<int>(std::strlen(prefix)) : 2;
  char prompt[sizeof prefix + 2];
  std::snprintf(prompt, sizeof prompt, "%*s> ", width - 2, "");
  Prompt(io, prompt);
}
