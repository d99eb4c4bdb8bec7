#include "settings/consent.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "core/fd.h"
#include "core/path.h"
#include "core/state_folder.h"

namespace {

// One line of the file: the path's length in bytes, the path and the command, each after a
// blank. The length keeps a path that holds blanks apart from the command.
//   24 /home/ann/doc/.morvax_rc make all
std::string ConsentLine(const std::string& rc_path, const std::string& command) {
  return std::to_string(rc_path.size()) + " " + rc_path + " " + command + "\n";
}

bool Recordable(const std::string& rc_path, const std::string& command) {
  return !rc_path.empty() && rc_path[0] == '/' && rc_path.find('\n') == std::string::npos &&
         command.find('\n') == std::string::npos;
}

// A consent file counts only when nobody but its user could have written it.
bool OwnFile(int fd) {
  struct stat info;
  return fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid() &&
         (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// True when the file at `fd` holds `record` (which ends in its only line end) as a whole line.
// Each line is compared byte by byte as it is read, so memory stays the same whatever the
// file's size.
bool HoldsLine(int fd, const std::string& record) {
  char chunk[4096];
  std::size_t matched = 0;  // the bytes of this line so far are the record's first `matched`
  bool differs = false;     // this line already differs from the record
  for (;;) {
    ssize_t n = RetryOnEintr([&] { return ::read(fd, chunk, sizeof chunk); });
    if (n <= 0) return false;
    for (char c : std::string_view(chunk, static_cast<std::size_t>(n))) {
      if (!differs && c == record[matched]) {
        if (++matched == record.size()) return true;
      } else if (c == '\n') {
        matched = 0;
        differs = false;
      } else {
        differs = true;
      }
    }
  }
}

}  // namespace

std::string AllowedFilePath() {
  std::string folder = StateFolder();
  return folder.empty() ? folder : JoinPath(folder, "allowed");
}

bool IsAllowed(const std::string& rc_path, const std::string& command) {
  if (!Recordable(rc_path, command)) return false;
  std::string path = AllowedFilePath();
  if (path.empty()) return false;
  Fd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid() || !OwnFile(fd.get())) return false;

  return HoldsLine(fd.get(), ConsentLine(rc_path, command));
}

Status RecordAllowed(const std::string& rc_path, const std::string& command) {
  if (!Recordable(rc_path, command)) return EINVAL;
  std::string path = AllowedFilePath();
  if (path.empty()) return ENOENT;
  if (Status made = MakeFolders(FolderOf(path)); !made.ok()) return made;
  // Readable too: the last byte is read before a record is added.
  Fd fd(
      ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600));
  if (!fd.valid()) return errno;
  if (!OwnFile(fd.get())) return EPERM;
  struct stat info;
  if (fstat(fd.get(), &info) != 0) return errno;
  std::string record = ConsentLine(rc_path, command);
  // A record starts a line even after a last line that lost its line end.
  char last = '\n';
  if (info.st_size > 0 && pread(fd.get(), &last, 1, info.st_size - 1) != 1) return EIO;
  if (last != '\n') record.insert(0, 1, '\n');
  ssize_t written = RetryOnEintr([&] { return ::write(fd.get(), record.data(), record.size()); });
  if (written != static_cast<ssize_t>(record.size())) {
    int err = written < 0 ? errno : EIO;
    // A part of a record would glue itself to the next one.
    if (written > 0) (void)ftruncate(fd.get(), info.st_size);
    return err;
  }
  return fd.Close();
}
