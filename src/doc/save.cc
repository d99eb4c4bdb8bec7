#include "doc/save.h"

#include "core/editor.h"

bool Save(Editor&) { return true; }
int DefineSaveName(Editor&) { return 0; }
void SavePrompt(Editor&) {}
void SaveOverwrite(Editor&) {}
