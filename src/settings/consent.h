// The user's consent to launch commands that come from a settings file: one record per settings
// file and command, in $XDG_STATE_HOME/morvax/allowed (by default ~/.local/state/morvax/allowed).
// Knows nothing of prompts: the launch command asks, this file remembers.
#pragma once

#include <string>

#include "core/status.h"

/// Where the consent file lives, or empty when neither XDG_STATE_HOME (an absolute path) nor
/// HOME gives a place.
std::string AllowedFilePath();

/// True when the consent file holds a record of `command` for the settings file at `rc_path`.
/// The file counts only when it is a regular file owned by the user and writable by no one else.
bool IsAllowed(const std::string& rc_path, const std::string& command);

/// Appends that record, creating missing folders with mode 0700 and the file with mode 0600.
/// Nothing is written when the record cannot be written (the errno of the step that failed;
/// ENOENT when there is no place for the file) or would not count: EINVAL for a relative path,
/// or a path or command holding a line feed; EPERM for a file that is not the user's alone.
Status RecordAllowed(const std::string& rc_path, const std::string& command);
