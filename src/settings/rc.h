// The settings file (".morvax_rc", or the one MORVAX_RC names): read once at start-up,
// written with every default when nothing exists at that name. Never written back. The reading
// of the text is kept apart from the file itself (ApplySettings), so that tests and fuzzers can
// drive it with any bytes. Prints nothing: ReadRC says what became of the file, and the caller
// reports it.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "core/defaults.h"
#include "core/status.h"

inline constexpr const char* kRcName = ".morvax_rc";

/// The settings file: the path that MORVAX_RC holds when it is set and not empty (relative to
/// the working folder), else kRcName.
const char* RcName();

/// The largest settings file that is read (64 KiB).
inline constexpr std::size_t kRcMaxBytes = 65536;

/// A rebindable key: the name of its command as the settings file spells it, and the key in
/// force. The caller owns the list, one Key a command, and gives the names.
struct Key {
  const char* name = "";
  char value[2] = {};  // one byte and its terminator
};

/// The loop's starting values that the settings file may set.
struct StartValues {
  int anchor = 0;  // 0-based column
  int page_length = kDefaultPageLength;
  int show_numbers = 1;  // 1 shows line numbers
  char launch_command[kNameSize] = {};
  std::string rc_path;  // the real path of the settings file read, when it has one
};

/// Applies the text of a settings file, line by line in file order:
/// - a line that holds any command name anywhere is a key line; every command named there
///   takes the value after the first "=" as its key when that value is exactly one byte;
/// - any other line is tested for max_lines, max_char, anchor_position, lines_per_page,
///   show_numbers and launch_command, in that order, and only the first name found counts.
/// Nothing is trimmed (a carriage return before the line feed is part of the value); a line
/// without "=" and a value that is refused change nothing. Afterwards an anchor that no longer
/// lies below size.lsize - 1 goes back to column 0.
void ApplySettings(std::string_view text, std::span<Key> keys, GridSize& size, StartValues& start);

/// The complete default file: every command name with its key, the grid's size, then fixed
/// starting values.
std::string FormatSettings(std::span<const Key> keys, const GridSize& size);

/// What ReadRC did with the settings file; each has its message.
enum class RcResult {
  kRead,        // "Reading RC file"
  kMade,        // nothing was there: "Making RC file", and the default file was written
  kNotMade,     // nothing was there: "Making RC file", then "Cannot make RC file"
  kUnreadable,  // "Cannot read RC file"
  kIgnored,     // not to be trusted: "Ignoring RC file", with the reason
};

/// Why a settings file is not trusted, in the order the checks apply.
enum class Distrust {
  kNone,
  kNotRegular,
  kTooLarge,
  kForeignOwner,
  kWritableByOthers,
  kWritableByGroup,  // the group bits, which also show write access that an ACL grants
  kFolderWritable,   // its folder lets another user put a file at its name (no sticky bit, and
                     // writable by others or by a group other than the user's private group)
};

struct [[nodiscard]] RcOutcome {
  RcResult result;
  Distrust reason = Distrust::kNone;  // with kIgnored
};

/// Reads the settings file `name` into the keys, the grid size and the starting values. When
/// nothing exists at that name it creates the file with the defaults (not its folder). A file
/// is read only when it can be trusted: a regular file of at most 64 KiB, owned by the user or
/// root (a symbolic link at the name too), writable by neither others nor its group, in a folder
/// where no other user can put a file at its name (see Distrust::kFolderWritable); otherwise
/// it is ignored for the first reason and left alone, as is a trusted file that cannot be read.
/// The checks are those of the file actually opened (without blocking), and no more than
/// 64 KiB + 1 bytes are read.
RcOutcome ReadRC(const char* name, std::span<Key> keys, GridSize& size, StartValues& start);

/// Writes a complete settings file under `name` from the keys and the grid size. Creates the
/// file only when nothing exists at that name (not even a dangling link), with mode 0644 under
/// the umask, so that it is never writable by its group. Fails (leaving no file) when no whole
/// file was made.
Status MakeRC(std::span<const Key> keys, const GridSize& size, const char* name);
