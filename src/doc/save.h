// Writing the document to a file: the save image, the name dialogue and the two save commands.
#pragma once

struct Editor;

/// Saves to the current file name, asking for one when it is empty. Returns false only when
/// the input ended at the name prompt (nothing was written); a failed write is reported and
/// counts as done.
bool Save(Editor& ed);

/// The `save_prompt` name dialogue: 1 when a name is set and the caller is to save, 0 when
/// the user cancelled or the input ended.
int DefineSaveName(Editor& ed);

void SavePrompt(Editor& ed);
void SaveOverwrite(Editor& ed);
