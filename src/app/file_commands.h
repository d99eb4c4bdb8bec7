// The commands and dialogues that load and save documents: `open`, the two save commands and
// the save that other commands start. The file work itself is under doc/.
#pragma once

#include <string_view>

struct Editor;

/// Replaces the document with a file's bytes: the split warnings, the line count, the
/// partial-load question and the placement. Ends the program (status 1) when a partial load
/// is declined (the document is then left as it was).
void LoadBytes(Editor& ed, std::string_view bytes);

/// Loads the file `name` (the whole file is read before anything is printed, so a failure
/// leaves one line of report and the document as it was).
void LoadFile(Editor& ed, const char* name);

/// Saves to the current file name, asking for one when it is empty. Returns false only when
/// the input ended at the name prompt (nothing was written); a failed write is reported and
/// counts as done.
bool Save(Editor& ed);

/// The `save_prompt` name dialogue: 1 when a name is set and the caller is to save, 0 when
/// the user cancelled or the input ended.
int DefineSaveName(Editor& ed);

void SavePrompt(Editor& ed);
void SaveOverwrite(Editor& ed);
/// The `open` command: the dialogue, the load, and the open name as the current file name
/// unless the dialogue was left.
void OpenCommand(Editor& ed);
