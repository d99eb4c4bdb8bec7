#include "doc/load.h"

#include "core/editor.h"

void Open(Editor&, int) {}
void OpenCommand(Editor&) {}
