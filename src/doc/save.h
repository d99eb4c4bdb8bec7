// Writing the document to a file: the save image, the name dialogue, the two save commands,
// and the file write that never leaves a half-written file behind where it can be avoided.
// Reading files back is doc/load.h.
#pragma once

#include <cstddef>
#include <span>

class Document;
struct Editor;

/// Bytes of the written form: every line from 0 to DocLength, each followed by a newline.
std::size_t ImageSize(const Document& doc);

/// Assembles the written form into `image`, which holds exactly ImageSize(doc) bytes.
void FormatLines(const Document& doc, std::span<char> image);

/// Replaces the content of the file at `path` with `bytes`, keeping its permission bits and
/// following symbolic links. Where it can, writes a temporary file in the same folder, flushes
/// it to disk and renames it over the target, so that a failure leaves the old content whole;
/// a target with several hard links, one that is no regular file, or one whose folder cannot
/// be written is written in place instead. Returns 0, or the errno of the first failure.
int WriteFileSafely(const char* path, std::span<const char> bytes);

/// Saves to the current file name, asking for one when it is empty. Returns false only when
/// the input ended at the name prompt (nothing was written); a failed write is reported and
/// counts as done.
bool Save(Editor& ed);

/// The `save_prompt` name dialogue: 1 when a name is set and the caller is to save, 0 when
/// the user cancelled or the input ended.
int DefineSaveName(Editor& ed);

void SavePrompt(Editor& ed);
void SaveOverwrite(Editor& ed);
