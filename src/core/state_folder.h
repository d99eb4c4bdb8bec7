// The user's state folder for this program, where it keeps what outlives a session (the
// launch consents, the backups of files written in place): $XDG_STATE_HOME/morvax, or
// ~/.local/state/morvax when XDG_STATE_HOME is unset, empty or not an absolute path.
#pragma once

#include <string>

#include "core/status.h"

/// The state folder's path, or empty when neither XDG_STATE_HOME nor HOME gives an absolute
/// one. The folder may not exist yet.
std::string StateFolder();

/// Creates every missing folder along `path` (the last part included) with mode 0700.
/// Returns ok, or the errno of the first folder that cannot be made (ENOTDIR when `path` ends
/// in something else).
Status MakeFolders(const std::string& path);
