// Tab at a file-name read: the names of a folder that begin with what was typed.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/utf8.h"
#include "term/caret.h"
#include "term/line_editor_state.h"

namespace line_editing {
namespace {

bool IsFolder(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The names in `folder` that begin with `start`, sorted; names beginning with "." only when
// `start` does.
std::vector<std::string> NamesStartingWith(const std::string& folder, const std::string& start) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.empty() ? "." : folder.c_str()),
                                          &closedir);
  if (dir == nullptr) return names;
  while (const dirent* entry = readdir(dir.get())) {
    std::string_view name = entry->d_name;
    if (name == "." || name == ".." || (name[0] == '.' && (start.empty() || start[0] != '.'))) {
      continue;
    }
    if (name.substr(0, start.size()) == start) names.emplace_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The longest start that all names share, not ending inside a UTF-8 character.
std::string CommonStart(const std::vector<std::string>& names, bool utf8) {
  std::string common = names[0];
  for (const std::string& name : names) {
    std::size_t n = 0;
    while (n < common.size() && n < name.size() && common[n] == name[n]) ++n;
    common.resize(n);
  }
  if (utf8 && names.size() > 1) {
    std::size_t lead = common.size();
    while (lead > 0 && common.size() - lead < 4 &&
           (static_cast<unsigned char>(common[lead - 1]) & 0xc0) == 0x80) {
      --lead;
    }
    if (lead > 0 && static_cast<unsigned char>(common[lead - 1]) >= 0xc0 &&
        Utf8Length(std::string_view(common).substr(lead - 1)) == 0) {
      common.resize(lead - 1);
    }
  }
  return common;
}

// Prints the names below the line being edited, in caret display, as many to a row as fit.
void ListNames(State& s, const std::string& folder, const std::vector<std::string>& names) {
  int columns = 80;
  el_get(s.el, EL_GETTC, "co", &columns);
  std::fputc('\n', s.out);
  int used = 0;
  for (const std::string& name : names) {
    std::string shown = CaretDisplay(name, s.utf8) + (IsFolder(folder + name) ? "/" : "");
    int width = static_cast<int>(shown.size());
    if (used > 0 && used + 2 + width > columns) {
      std::fputc('\n', s.out);
      used = 0;
    }
    if (used > 0) {
      std::fputs("  ", s.out);
      used += 2;
    }
    std::fputs(shown.c_str(), s.out);
    used += width;
  }
  std::fputc('\n', s.out);
}

}  // namespace

// Tab at a file-name read: the answer up to the cursor is one literal path. A single match is
// completed exactly, with "/" after a folder; several complete to their common start and are
// listed; none rings the bell.
unsigned char CompleteName(EditLine* el, int) {
  State& s = StateOf(el);
  const LineInfoW* line = el_wline(el);
  std::string typed = ToBytes(line->buffer, line->cursor);
  std::size_t slash = typed.rfind('/');
  std::string folder = slash == std::string::npos ? "" : typed.substr(0, slash + 1);
  std::string start = typed.substr(folder.size());

  std::vector<std::string> names = NamesStartingWith(folder, start);
  if (names.empty()) return CC_REFRESH_BEEP;
  std::string common = CommonStart(names, s.utf8);
  std::string insert = common.substr(start.size());
  if (names.size() == 1 && IsFolder(folder + common)) insert += '/';
  std::wstring wide;
  AppendWide(s, insert, wide);
  if (!insert.empty() && el_winsertstr(el, wide.c_str()) != 0) return CC_ERROR;
  if (names.size() == 1) return CC_REFRESH;
  ListNames(s, folder, names);
  return CC_REDISPLAY;
}

}  // namespace line_editing
