#include "edit/clipboard.h"

#include "core/editor.h"

int CheckCopy(int, int, int&, const Document&, Io&) { return 0; }
int CheckCut(int, int, int&, const Document&, Io&) { return 0; }
void Cut(int, int, int, Document&) {}
int CheckPaste(int, int&, const char*, int, Io&) { return 0; }
void Paste(int, int, int, const char*, Document&) {}

void ClipCopy(Editor&) {}
void ClipCut(Editor&) {}
void ClipPaste(Editor&) {}
void ClipInsert(Editor&) {}
