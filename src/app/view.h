// The view printed before every read: header, a window of lines ending at the cursor line,
// each shown from the cursor column, and the prompt. Reads the document, changes nothing. At a
// terminal the lines and the file name are Shown (caret display); columns still count bytes.
#pragma once

#include "core/document.h"
#include "core/io.h"
#include "core/pos.h"

/// `before` is the number of lines shown above the cursor line (page length - 1, at least 0).
/// Without `with_prompt` the prompt is left out: the view printed again above the line editor's
/// prompt, which the line editor prints itself.
void Display(Pos cursor, int before, const Document& doc, int show_numbers, const char* file_name,
             Io& io, bool with_prompt = true);
