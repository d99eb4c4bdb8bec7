// Writing the document to a file: the save image, and the file write that never leaves a
// half-written file behind where it can be avoided. Every file-system step passes the seam.
// Reading files back is doc/load.h.
#pragma once

#include <cstddef>
#include <span>

#include "core/document.h"
#include "core/file_system.h"

/// Bytes of the written form: every line from 0 to DocLength, each followed by a newline.
std::size_t ImageSize(const Document& doc);

/// Assembles the written form into `image`, which holds exactly ImageSize(doc) bytes.
void FormatLines(const Document& doc, std::span<char> image);

/// Replaces the content of the file at `path` with `bytes`, keeping its permission bits and
/// following symbolic links. Where it can, writes a temporary file in the same folder, flushes
/// it to disk and renames it over the target, so that a failure leaves the old content whole;
/// a target with several hard links, one that is no regular file, or one whose folder cannot
/// be written is written in place instead. Returns 0, or the errno of the first failure.
int WriteFileSafely(const char* path, std::span<const char> bytes, const FileSystem& fs = {});
