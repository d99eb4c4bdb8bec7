// What earlier sessions may have left behind: the files a save that was cut short leaves beside
// its target or in the state folder, and recovery files. They are only found here, by name or
// by listing folders: nothing is read but the one-line companion files of the state folder's
// backups, and nothing is moved or removed.
#pragma once

#include <string>
#include <vector>

#include "doc/target.h"

/// The files a cut-short save of the file `name` reaches (`target`, as the load's walk found it)
/// may have left: in that file's folder each NAME.morvax-backup-XXXXXX and
/// .NAME.morvax-save-XXXXXX (NAME the file's own name, cut as a save cuts it; six letters or
/// digits for the X's: the names of doc/save_names.h), and each backup in the state folder
/// (BackupFolder in doc/save.h) whose companion file BACKUP.path holds the file's absolute path
/// and a line end. In byte order of their absolute paths. Only regular files of the user are
/// counted, never links (to root: of root or of the file's owner), since another user may plant
/// any name. Each is named by `name`'s folder part and its own name when it lies beside the file
/// and `name` reaches the file through no symbolic link, else by its absolute path. A folder
/// that cannot be listed adds nothing; one whose path is too long to be used is listed all the
/// same, from the descriptor the walk of `name` reached it with.
std::vector<std::string> FindLeftovers(const char* name, const Target& target);

/// Which of the recovery files `base`, `base.1` ... `base.99` are in the working folder, in
/// that order, each looked up by its name (a regular file of the user's, never a link); then
/// the user's files
/// `.base-XXXXXX` there (recoveries cut short before they were named), in byte order. A folder
/// that cannot be searched has none; one that cannot be listed, no hidden ones.
std::vector<std::string> FindRecoveryFiles(const char* base);
