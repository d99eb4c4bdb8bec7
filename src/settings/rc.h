// The settings file ".morvax_rc": read once at start-up, written with every default when it
// is missing. Never written back.
#pragma once

#include "core/editor.h"

inline constexpr const char* kRcName = ".morvax_rc";

/// Reads the settings file into the keys, the grid size and the starting values; creates it
/// when nothing exists at that name. Returns 1 when a file was read.
int ReadRC(Editor& ed, GridSize& size);

/// Writes a complete settings file from the keys and the grid size.
void MakeRC(const KeyTable& keys, const GridSize& size, const char* name, Io& io);
