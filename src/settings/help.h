// The help menu: the grid's limits and every command with the key in force.
#pragma once

struct Editor;

void Help(Editor& ed);
