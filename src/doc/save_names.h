// The names of the files that saves and recovery files leave in folders: a save's temporary
// file, the backup of the old content (and, in the state folder, the backup's companion), and
// the hidden copy of a recovery file before it has its name. Each name is made here and
// recognised here, so what a save makes and what a later session looks for cannot drift apart.
//
// Nothing here allocates, takes a lock or looks at the file system: a name is written into the
// caller's buffer (an EntryName, which any folder entry's name fits) and its length returned,
// so the rescue that writes a recovery file when a signal ends the program may use them too.
#pragma once

#include <limits.h>

#include <cstddef>
#include <span>
#include <string_view>

/// Room for the name of one folder entry and its terminating NUL.
using EntryName = char[NAME_MAX + 1];

/// What follows NAME in a backup's name, and ".NAME" in a temporary file's, before the random
/// part; what follows a backup's name in its companion's.
inline constexpr char kBackupMarker[] = ".morvax-backup-";
inline constexpr char kTempMarker[] = ".morvax-save-";
inline constexpr char kCompanionSuffix[] = ".path";

/// Every name made here but the numbered recovery names ends in this many random letters and
/// digits; a pattern holds X's there until FillRandom replaces them.
inline constexpr std::size_t kRandomSize = 6;

/// The recovery file's first name; the later ones add ".1" up to ".99".
inline constexpr char kRecoveryBase[] = "morvax.hup";
inline constexpr int kRecoveryNames = 100;

// In every name below, NAME (or BASE) is cut so that the whole name fits one folder entry.

/// ".NAME.morvax-save-XXXXXX", for a new file that is to replace `target`.
std::size_t TempPattern(std::string_view target, EntryName& name) noexcept;

/// "NAME.morvax-backup-XXXXXX", for the old content of `target`. A backup in the state folder
/// has a companion, whose name must fit too (`with_companion`).
std::size_t BackupPattern(std::string_view target, bool with_companion, EntryName& name) noexcept;

/// BACKUP + ".path": the companion of the state folder's `backup`, which holds the absolute
/// path of the file the backup belongs to and a line end. Empty (0) when it does not fit.
std::size_t CompanionName(std::string_view backup, EntryName& name) noexcept;

/// ".BASE-XXXXXX": a recovery file while it is written, before it is named.
std::size_t HiddenRecoveryPattern(std::string_view base, EntryName& name) noexcept;

/// BASE for `number` 0, else BASE.NUMBER (1 to kRecoveryNames - 1).
std::size_t RecoveryName(std::string_view base, int number, EntryName& name) noexcept;

/// Replaces the last kRandomSize characters of `name` with random letters and digits (from the
/// clock and the process id when the system has no randomness to give yet).
void FillRandom(std::span<char> name) noexcept;

/// True when `entry`, a name in a folder, is what TempPattern, BackupPattern (without a
/// companion) or HiddenRecoveryPattern makes for `target` (or `base`), the random part filled.
bool IsTempOf(std::string_view entry, std::string_view target) noexcept;
bool IsBackupOf(std::string_view entry, std::string_view target) noexcept;
bool IsHiddenRecoveryOf(std::string_view entry, std::string_view base) noexcept;

/// True when `entry` is a backup's name, whatever file it was made for.
bool IsBackup(std::string_view entry) noexcept;
