// The user's consent to launch commands that come from a settings file: one record per settings
// file and command, in $XDG_STATE_HOME/morvax/allowed (by default ~/.local/state/morvax/allowed).
// Knows nothing of prompts: the launch command asks, this file remembers.
#pragma once

#include <string>

/// Where the consent file lives, or empty when neither XDG_STATE_HOME (an absolute path) nor
/// HOME gives a place.
std::string AllowedFilePath();

/// True when the consent file holds a record of `command` for the settings file at `rc_path`.
/// The file counts only when it is a regular file owned by the user and writable by no one else.
bool IsAllowed(const std::string& rc_path, const std::string& command);

/// Appends that record, creating missing folders with mode 0700 and the file with mode 0600.
/// Nothing is written, and the result is false, when the record cannot be written or would not
/// count: a relative path, a path or command holding a line feed, a file that is not the user's
/// alone.
bool RecordAllowed(const std::string& rc_path, const std::string& command);
