// The one-level undo record: what the last edit destroyed, and the `undo` command that puts
// it back. Editing handlers record here at one visible point; nothing else touches it.
#pragma once

#include <memory>

#include "core/document.h"

struct Editor;

struct UndoState {
  int mode = 0;              // 0 none, 1 line restore, 2 wedge, 3 delete, 4 move, 5 copy, 6 wrap
  int undo_line = 0;         // line that mode 1 restores
  int wedge_line = 0;        // line that line_insert opened (mode 2)
  int deleted_line = 0;      // line that line_delete removed (mode 3)
  int source_line = 0;       // first line of a two-line record (modes 4 to 6)
  int destination_line = 0;  // second line of a two-line record
  std::unique_ptr<char[]> first;   // lsize bytes: modes 1, 3, 4, 6 write it back
  std::unique_ptr<char[]> second;  // lsize bytes: modes 4, 5, 6 write it back
};

/// Sets `index` to `line` and copies that line into `copy`.
void StoreUndo(int line, int& index, char* copy, const Document& doc);
/// Copies `copy` over `line`.
void RecallUndo(int line, const char* copy, Document& doc);
/// Copies `first` into copy1 and `second` into copy2; does nothing when `second` is no line.
void StoreDoubleUndo(int first, int second, char* copy1, char* copy2, const Document& doc);

/// Records mode 1 for the cursor line: call before the line changes.
void RecordLineUndo(Editor& ed);

/// The `undo` command.
void Undo(Editor& ed);
