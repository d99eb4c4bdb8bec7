#include "edit/line_commands.h"

#include "core/editor.h"

void Clear(int, Document&) {}
void Trim(int, int, Document&) {}
void Copy(int, int, Document&) {}
void Move(int, int, Document&) {}

void LineClear(Editor&) {}
void LineMove(Editor&) {}
void LineInsert(Editor&) {}
void LineDelete(Editor&) {}
void LineCopy(Editor&) {}
void TrimEnd(Editor&) {}
void TrimWrap(Editor&) {}
