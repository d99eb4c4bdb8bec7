// The commands that change the document: text entry (the loop's action for any input that is
// no command), insertion, the clipboard, the line commands and undo. Each runs one edit under
// edit/, naming what it keeps for undo, and says the edit's outcome.
#pragma once

#include "core/io.h"
#include "edit/text_entry.h"

struct Editor;

/// Says what became of a text entry: its message, or nothing when the whole text was written.
void ReportEntry(Io& io, Entry entry);
/// Says why an insertion was shortened or refused, for a grid of `lsize`.
void ReportInsert(Io& io, const Inserted& insert, int lsize);

/// The loop's action for an input that is no command; `shortened` when the input line lost
/// characters before it came here.
void TextEntry(Editor& ed, const char* text, bool shortened = false);

void NewInsert(Editor& ed);
void ClipCopy(Editor& ed);
void ClipCut(Editor& ed);
void ClipPaste(Editor& ed);
void ClipInsert(Editor& ed);
void LineClear(Editor& ed);
void LineMove(Editor& ed);
void LineInsert(Editor& ed);
void LineDelete(Editor& ed);
void LineCopy(Editor& ed);
void TrimEnd(Editor& ed);
void TrimWrap(Editor& ed);
void Undo(Editor& ed);
