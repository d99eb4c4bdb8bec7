// The questions a save asks before it writes, each naming what the user needs to decide. Only a
// typed "y" goes on; anything else says "Nothing was saved".
#pragma once

#include "core/status.h"
#include "doc/stamp.h"
#include "doc/target.h"

struct Editor;

/// Reads the answer to a question about a save: true for a typed "y"; anything else says that
/// nothing was saved.
[[nodiscard]] bool AnsweredYes(Editor& ed);

/// Asks `question` about the file `name` (and `what` and `more`, its other parts): true for a
/// typed "y".
[[nodiscard]] bool Confirmed(Editor& ed, const char* question, const char* name,
                             const char* what = "", const char* more = "");

/// Asks about what another program did since the session read or wrote the file (`change`, as
/// ChangedSince found it for `target`), saying what happened: true to go on (kNone, or a "y").
[[nodiscard]] bool ChangeAccepted(Editor& ed, DiskChange change, const char* name,
                                  const Target& target);

/// A save to `target` (`found` as Resolve gave it) would make a new file through a link of
/// another user's, one neither the user's nor root's.
bool ThroughOthersLink(const Target& target, Status found);

/// Asks first about a new file made through a link of another user's, naming where it would
/// go: true to go on.
[[nodiscard]] bool LinkAccepted(Editor& ed, const char* name, const Target& target, Status found);
