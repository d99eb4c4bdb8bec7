#include "core/state_folder.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "core/fd.h"
#include "core/path.h"

std::string StateFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return JoinPath(state, "morvax");
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return JoinPath(home, ".local/state/morvax");
  return {};
}

Status MakeFolders(const std::string& path) {
  for (std::size_t at = 1; at <= path.size(); ++at) {
    if (at < path.size() && path[at] != '/') continue;
    std::string prefix = path.substr(0, at);
    if (RetryOnEintr([&] { return mkdir(prefix.c_str(), 0700); }) != 0 && errno != EEXIST) {
      return errno;
    }
  }
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? Status() : Status(ENOTDIR);
}
