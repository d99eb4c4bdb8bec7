#include "app/view.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "app/messages.h"
#include "term/caret.h"

namespace {

// Whether line `line` reaches column p; if so, `shown` receives its text from there as it is
// printed (valid until the next call).
bool TextFrom(Io& io, const Document& doc, int line, int p, std::string_view& shown) {
  LineView text = doc.text(line);
  if (text.size() <= static_cast<std::size_t>(p)) return false;
  shown = ShownInPlace(io, text.substr(p).view());
  return true;
}

// Line k of the view: the cursor line after `prefix`, any other after its number (`numbers`)
// or two blanks.
void PrintLine(Io& io, const Document& doc, int k, Pos cursor, bool numbers, const char* prefix) {
  std::string_view text;
  bool reaches = TextFrom(io, doc, k, cursor.column, text);
  // A line is no NUL-terminated string: it is printed by its length.
  int n = static_cast<int>(text.size());
  if (k == cursor.line) {
    if (reaches) {
      Print(io, "%s%.*s\n", prefix, n, text.data());
    } else if (numbers) {
      Print(io, "%s\n", prefix);
    } else {
      Print(io, ">\n");
    }
  } else if (numbers) {
    if (reaches) {
      Print(io, " %i  %.*s\n", k + 1, n, text.data());
    } else {
      Print(io, " %i\n", k + 1);
    }
  } else if (reaches) {
    Print(io, "  %.*s\n", n, text.data());
  } else {
    Print(io, "\n");
  }
}

}  // namespace

void Display(Pos cursor, int before, const Document& doc, int show_numbers, const char* file_name,
             Io& io, bool with_prompt) {
  Print(io, msg::kHeader, cursor.line + 1, cursor.column + 1, ShownInPlace(io, file_name));

  int first = cursor.line - before;
  if (first < 0) first = 0;
  long long last = static_cast<long long>(first) + before;
  if (last > doc.lines() - 1) last = doc.lines() - 1;

  bool numbers = show_numbers == 1;
  // Room for "[%i] " with any int.
  char prefix[24] = "> ";
  for (int k = first; k <= last; ++k) {
    if (k == cursor.line && numbers) std::snprintf(prefix, sizeof prefix, "[%i] ", k + 1);
    PrintLine(io, doc, k, cursor, numbers, prefix);
  }

  if (!with_prompt) return;
  int width = numbers ? static_cast<int>(std::strlen(prefix)) : 2;
  char prompt[sizeof prefix + 2];
  std::snprintf(prompt, sizeof prompt, "%*s> ", width - 2, "");
  Prompt(io, prompt);
}
