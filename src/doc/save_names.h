// The names of the files that saves and recovery files leave in folders, made and recognised
// here alone. Nothing here allocates, takes a lock or looks at the file system (the rescue at a
// fatal signal uses it): a name goes into the caller's EntryName and its length is returned.
#pragma once

#include <limits.h>

#include <cstddef>
#include <span>
#include <string_view>

/// Room for the name of one folder entry and its terminating NUL.
using EntryName = char[NAME_MAX + 1];

inline constexpr char kBackupMarker[] = ".morvax-backup-";
inline constexpr char kTempMarker[] = ".morvax-save-";
inline constexpr char kCompanionSuffix[] = ".path";

/// The random letters and digits that end every name but the numbered recovery names.
inline constexpr std::size_t kRandomSize = 6;

/// The recovery file's first name; the later ones add ".1" up to ".99".
inline constexpr char kRecoveryBase[] = "morvax.hup";
inline constexpr int kRecoveryNames = 100;

// In every name below, NAME (or BASE) is cut so that the whole name fits one folder entry.

/// ".NAME.morvax-save-XXXXXX", for a new file that is to replace `target`.
std::size_t TempPattern(std::string_view target, EntryName& name) noexcept;

/// "NAME.morvax-backup-XXXXXX", for the old content of `target`; `with_companion` leaves room
/// for the companion's name (a backup in the state folder).
std::size_t BackupPattern(std::string_view target, bool with_companion, EntryName& name) noexcept;

/// BACKUP + ".path": the companion of the state folder's `backup`, which holds the absolute
/// path of the file the backup belongs to and a line end. Empty (0) when it does not fit.
std::size_t CompanionName(std::string_view backup, EntryName& name) noexcept;

/// ".BASE-XXXXXX": a recovery file while it is written, before it is named.
std::size_t HiddenRecoveryPattern(std::string_view base, EntryName& name) noexcept;

/// BASE for `number` 0, else BASE.NUMBER (1 to kRecoveryNames - 1).
std::size_t RecoveryName(std::string_view base, int number, EntryName& name) noexcept;

/// Replaces the last kRandomSize characters of `name` with random letters and digits.
void FillRandom(std::span<char> name) noexcept;

/// True when `entry` is what TempPattern, BackupPattern (without a companion) or
/// HiddenRecoveryPattern makes for `target` (or `base`), the random part filled.
bool IsTempOf(std::string_view entry, std::string_view target) noexcept;
bool IsBackupOf(std::string_view entry, std::string_view target) noexcept;
bool IsHiddenRecoveryOf(std::string_view entry, std::string_view base) noexcept;

/// True when `entry` is a backup's name, whatever file it was made for.
bool IsBackup(std::string_view entry) noexcept;
