// The one-line clipboard ("memory"): copy, cut, paste over and insert at the cursor.
#pragma once

#include "core/document.h"
#include "core/io.h"

struct Editor;

/// Lowers `count` to the text left from `position`; refuses when there is none.
int CheckCopy(int line, int position, int& count, const Document& doc, Io& io);
/// Refuses a count beyond the slot or nothing to cut; lowers `count` to the text left.
int CheckCut(int line, int position, int& count, const Document& doc, Io& io);
/// Removes `count` characters at `position`, keeping the slot's zero tail.
void Cut(int line, int position, int count, Document& doc);
/// Sets `count` to how much of `text` fits from `position`; refuses an empty text.
int CheckPaste(int position, int& count, const char* text, int lsize, Io& io);
/// Overwrites from `position` with the first `count` characters of `text`.
void Paste(int line, int position, int count, const char* text, Document& doc);

void ClipCopy(Editor& ed);
void ClipCut(Editor& ed);
void ClipPaste(Editor& ed);
void ClipInsert(Editor& ed);
