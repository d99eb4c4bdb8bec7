#include "settings/help.h"

#include "core/editor.h"

void Help(Editor&) {}
