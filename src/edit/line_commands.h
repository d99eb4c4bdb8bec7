// Commands on whole lines, or on the part of the cursor line after the cursor: clear, trim,
// split onto the next line, move, copy, open (wedge) and delete.
#pragma once

#include "core/document.h"

struct Editor;

void Clear(int line, Document& doc);
void Trim(int line, int position, Document& doc);
void Copy(int source, int destination, Document& doc);
void Move(int source, int destination, Document& doc);

void LineClear(Editor& ed);
void LineMove(Editor& ed);
void LineInsert(Editor& ed);
void LineDelete(Editor& ed);
void LineCopy(Editor& ed);
void TrimEnd(Editor& ed);
void TrimWrap(Editor& ed);
