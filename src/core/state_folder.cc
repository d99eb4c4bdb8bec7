#include "core/state_folder.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

std::string StateFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::string(state) + "/morvax";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/state/morvax";
  return {};
}

int MakeFolders(const std::string& path) {
  for (std::size_t at = 1; at <= path.size(); ++at) {
    if (at < path.size() && path[at] != '/') continue;
    std::string prefix = path.substr(0, at);
    int made;
    do {
      made = mkdir(prefix.c_str(), 0700);
    } while (made != 0 && errno == EINTR);
    if (made != 0 && errno != EEXIST) return errno;
  }
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}
