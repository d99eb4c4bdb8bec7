// What earlier sessions may have left behind: the files of cut-short saves, and recovery files.
// They are only found: nothing is moved or removed, nothing read but backups' companions.
#pragma once

#include <string>
#include <vector>

#include "doc/target.h"

/// The files a cut-short save of the file `name` reaches (`target`, as the load's walk found it)
/// may have left: its backups and temporary files beside it (doc/save_names.h), and each backup
/// in the state folder whose companion holds the file's absolute path and a line end; in byte
/// order of their absolute paths. Only regular files of the user count (to root: of root or of
/// the file's owner), since another user may plant any name. Each is named by `name`'s folder
/// part and its own name when it lies beside the file and `name` went through no link, else by
/// its absolute path. A folder that cannot be listed adds nothing.
std::vector<std::string> FindLeftovers(const char* name, const Target& target);

/// Which of the recovery files `base`, `base.1` ... `base.99` are in the working folder (regular
/// files of the user's), in that order; then the user's `.base-XXXXXX` there (recoveries cut
/// short before they were named), in byte order.
std::vector<std::string> FindRecoveryFiles(const char* base);
