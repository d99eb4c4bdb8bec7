#include "settings/rc.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/fd.h"
#include "core/path.h"

namespace {

// The six setting names, in the order a line is tested for them: a line that holds several
// acts only on the first of this list.
enum class Setting { kMaxLines, kMaxChar, kAnchor, kPageLength, kShowNumbers, kLaunchCommand };

struct SettingName {
  const char* name;
  Setting setting;
};

constexpr SettingName kSettings[] = {
    {"max_lines", Setting::kMaxLines},       {"max_char", Setting::kMaxChar},
    {"anchor_position", Setting::kAnchor},   {"lines_per_page", Setting::kPageLength},
    {"show_numbers", Setting::kShowNumbers}, {"launch_command", Setting::kLaunchCommand},
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads a decimal integer as strtol does in base 10: leading white space, an optional sign,
// then digits up to the first other character; text without digits gives 0. Returns false
// when the number lies outside the int range, so that it is refused like any unusable value
// instead of being clamped or wrapped.
bool ReadSettingNumber(std::string_view text, int& value) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  long long number = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    number = number * 10 + (text[i] - '0');
    if (number > static_cast<long long>(INT_MAX) + 1) return false;  // stays far from overflow
  }
  if (negative) number = -number;
  if (number < INT_MIN || number > INT_MAX) return false;
  value = static_cast<int>(number);
  return true;
}

void ApplySetting(Setting setting, std::string_view value, GridSize& size, StartValues& start) {
  int v = 0;
  switch (setting) {
    case Setting::kMaxLines:
      if (ReadSettingNumber(value, v) && v > 0) size.lines = v;
      return;
    case Setting::kMaxChar:
      // The width holds the terminator too, so the largest int has no width.
      if (ReadSettingNumber(value, v) && v > 0 && v < INT_MAX) size.lsize = v + 1;
      return;
    case Setting::kAnchor:
      // Tested against the width in force when this line is read.
      if (ReadSettingNumber(value, v) && v > 0 && v < size.lsize) start.anchor = v - 1;
      return;
    case Setting::kPageLength:
      // Tested against the line count in force when this line is read.
      if (ReadSettingNumber(value, v) && v > 0 && v < size.lines) start.page_length = v;
      return;
    case Setting::kShowNumbers:
      start.show_numbers = value == "on" ? 1 : 0;
      return;
    case Setting::kLaunchCommand:
      if (value.empty()) return;
      std::fill(std::begin(start.launch_command), std::end(start.launch_command), '\0');
      value.copy(start.launch_command, kNameSize - 1);
      return;
  }
}

void ApplyLine(std::string_view line, std::span<Key> keys, GridSize& size, StartValues& start) {
  // The text of a line ends at a NUL byte, as it would in a C string; so a key can never
  // become the empty string.
  line = line.substr(0, line.find('\0'));
  std::size_t equals = line.find('=');
  std::string_view value;
  if (equals != std::string_view::npos) value = line.substr(equals + 1);

  bool key_line = false;
  for (Key& key : keys) {
    if (line.find(key.name) == std::string_view::npos) continue;
    key_line = true;
    if (equals != std::string_view::npos && value.size() == 1) {
      key.value[0] = value[0];
      key.value[1] = '\0';
    }
  }
  // A line without "=" has no value to give; a key line is never read as a setting.
  if (key_line || equals == std::string_view::npos) return;

  for (const SettingName& s : kSettings) {
    if (line.find(s.name) == std::string_view::npos) continue;
    ApplySetting(s.setting, value, size, start);
    return;
  }
}

bool TrustedOwner(uid_t owner) {
  return owner == geteuid() || owner == 0;
}

// The first reason not to read a settings file, or kNone when it may be read. `foreign_link`:
// the name is a symbolic link owned by someone else.
Distrust ReasonNotToRead(const struct stat& file, bool foreign_link) {
  if (!S_ISREG(file.st_mode)) return Distrust::kNotRegular;
  if (static_cast<std::size_t>(file.st_size) > kRcMaxBytes) return Distrust::kTooLarge;
  if (foreign_link || !TrustedOwner(file.st_uid)) return Distrust::kForeignOwner;
  if ((file.st_mode & S_IWOTH) != 0) return Distrust::kWritableByOthers;
  if ((file.st_mode & S_IWGRP) != 0) return Distrust::kWritableByGroup;
  return Distrust::kNone;
}

// True when the group `gid` is the user's own private group: the user's primary group, named
// as the user. Two look-ups by number, so that no list of users or groups is gone through.
bool PrivateGroup(gid_t gid) {
  if (gid != getegid()) return false;
  const passwd* user = getpwuid(geteuid());
  std::string name = user != nullptr ? user->pw_name : "";
  const group* own = getgrgid(gid);
  return own != nullptr && !name.empty() && name == own->gr_name;
}

// True when another user may put a file at a name in the folder of `name`: it is writable by
// others, or by a group that is not the user's private one, and not sticky.
bool FolderOpenToOthers(const char* name) {
  std::string folder = FolderOf(name);
  struct stat st;
  if (RetryOnEintr([&] { return stat(folder.empty() ? "." : folder.c_str(), &st); }) != 0) {
    return false;  // the file's own open fails the same way
  }
  if ((st.st_mode & S_ISVTX) != 0) return false;
  return (st.st_mode & S_IWOTH) != 0 || ((st.st_mode & S_IWGRP) != 0 && !PrivateGroup(st.st_gid));
}

constexpr RcOutcome kUnreadable{RcResult::kUnreadable};

RcOutcome Ignored(Distrust reason) {
  return {RcResult::kIgnored, reason};
}

// Opens the settings file for reading once it has passed the checks. Returns kRead with `fd`
// open, kMade when nothing exists at the name (and nothing is made yet), or why it is not read.
RcOutcome OpenTrusted(const char* name, Fd& fd) {
  // An interrupted look or open is made again: a signal never makes the settings unreadable.
  struct stat entry;
  if (RetryOnEintr([&] { return lstat(name, &entry); }) != 0) {
    return errno == ENOENT ? RcOutcome{RcResult::kMade} : kUnreadable;
  }
  bool foreign_link = S_ISLNK(entry.st_mode) && !TrustedOwner(entry.st_uid);

  // A first look, so that a device or a FIFO is never opened at all.
  struct stat file;
  if (RetryOnEintr([&] { return stat(name, &file); }) != 0) {
    // A dangling link, a loop of links, or a link through something that is not a folder.
    if (errno == ENOENT || errno == ELOOP || errno == ENOTDIR) {
      return Ignored(Distrust::kNotRegular);
    }
    return kUnreadable;
  }
  if (Distrust reason = ReasonNotToRead(file, foreign_link); reason != Distrust::kNone) {
    return Ignored(reason);
  }

  // What counts is the file actually opened: the name may have changed since the look.
  fd = Fd(RetryOnEintr([&] { return ::open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC); }));
  if (!fd.valid() || RetryOnEintr([&] { return fstat(fd.get(), &file); }) != 0) return kUnreadable;
  if (Distrust reason = ReasonNotToRead(file, foreign_link); reason != Distrust::kNone) {
    return Ignored(reason);
  }
  if (FolderOpenToOthers(name)) return Ignored(Distrust::kFolderWritable);
  return {RcResult::kRead};
}

}  // namespace

void ApplySettings(std::string_view text, std::span<Key> keys, GridSize& size, StartValues& start) {
  // Runs of line feeds count as one separator: empty lines never reach the tests.
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty()) ApplyLine(line, keys, size, start);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  // A later max_char line may have narrowed the lines under an accepted anchor.
  if (start.anchor >= size.lsize - 1) start.anchor = 0;
}

std::string FormatSettings(std::span<const Key> keys, const GridSize& size) {
  std::string text;
  for (const Key& key : keys) {
    text += key.name;
    text += '=';
    text += key.value;
    text += '\n';
  }
  text += "max_lines=" + std::to_string(size.lines) + "\n";
  text += "max_char=" + std::to_string(size.lsize - 1) + "\n";
  // Constant text, not the current starting values.
  text += "\nanchor_position=0\nlines_per_page=" + std::to_string(kDefaultPageLength) +
          "\nshow_numbers=on\nlaunch_command=\n";
  return text;
}

Status MakeRC(std::span<const Key> keys, const GridSize& size, const char* name) {
  std::string text = FormatSettings(keys, size);
  // Made only when nothing exists at that name, so a file that is there but could not be read
  // is never truncated; 0644 so that the group, which the umask may let write, never can.
  Fd fd(RetryOnEintr([&] {
    return ::open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0644);
  }));
  if (!fd.valid()) return errno;
  Status written;
  for (std::size_t done = 0; done < text.size() && written.ok();) {
    ssize_t n =
        RetryOnEintr([&] { return ::write(fd.get(), text.data() + done, text.size() - done); });
    if (n <= 0) written = n < 0 ? errno : EIO;
    done += n > 0 ? static_cast<std::size_t>(n) : 0;
  }
  if (Status closed = fd.Close(); written.ok()) written = closed;
  if (!written.ok()) {
    // A cut-off file would be read as it stands at every later start; without it the next
    // start simply tries again.
    unlink(name);
  }
  return written;
}

const char* RcName() {
  const char* chosen = std::getenv("MORVAX_RC");
  return chosen != nullptr && chosen[0] != '\0' ? chosen : kRcName;
}

RcOutcome ReadRC(const char* name, std::span<Key> keys, GridSize& size, StartValues& start) {
  Fd fd;
  RcOutcome opened = OpenTrusted(name, fd);
  if (opened.result == RcResult::kMade) {
    return MakeRC(keys, size, name).ok() ? opened : RcOutcome{RcResult::kNotMade};
  }
  if (opened.result != RcResult::kRead) return opened;

  // One byte more than allowed shows a file that grew after the check.
  std::string text;
  if (!ReadUpTo(fd.get(), kRcMaxBytes + 1, text).ok()) return kUnreadable;
  if (text.size() > kRcMaxBytes) return Ignored(Distrust::kTooLarge);
  ApplySettings(text, keys, size, start);
  if (char* real = realpath(name, nullptr)) {
    start.rc_path = real;
    std::free(real);
  }
  return opened;
}
