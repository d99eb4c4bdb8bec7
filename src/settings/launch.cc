#include "settings/launch.h"

#include "core/editor.h"

int SetCommand(Editor&) { return 0; }
void CommandExec(Editor&) {}
void CommandEdit(Editor&) {}
