// A whole editing session: the input is a settings file, a document and the keystrokes,
// separated by lines holding "%%". The editor runs in-process in a private temporary folder,
// on the small grids that the settings ask for, and its invariants are checked after every
// turn. Shell commands are recorded, never run.
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "check.h"
#include "app/commands.h"
#include "app/editor.h"
#include "settings/rc.h"

namespace {

constexpr long long kMaxGridBytes = 1 << 16;

// The fuzzer's own folder, made once and emptied before every input.
void EnterWorkFolder() {
  static bool made = false;
  if (!made) {
    char pattern[] = "/tmp/morvax-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr || chdir(pattern) != 0) std::abort();
    made = true;
  }
  DIR* dir = opendir(".");
  while (dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    if (unlink(entry->d_name) != 0) rmdir(entry->d_name);
  }
  closedir(dir);
}

void Write(const char* name, std::string_view bytes) {
  std::FILE* f = std::fopen(name, "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

// Splits off the text before the next "\n%%\n".
std::string_view Take(std::string_view& rest) {
  std::size_t at = rest.find("\n%%\n");
  std::string_view part = rest.substr(0, at);
  rest = at == std::string_view::npos ? std::string_view() : rest.substr(at + 4);
  return part;
}

void CheckEditor(const Editor& ed) {
  Check(ed.cursor_line >= 0 && ed.cursor_line < ed.lines(), "cursor line inside the grid");
  Check(ed.cursor_pos >= 0 && ed.cursor_pos <= ed.lsize() - 1, "cursor column inside a slot");
  Check(ed.page_length >= 1, "page length at least 1");
  Check(ed.anchor >= 0 && ed.anchor <= ed.lsize() - 1, "anchor inside a slot");
  Check(ed.doc.CheckInvariant(), "every slot a line with a zero tail");
  Check(strnlen(ed.clip.get(), ed.lsize()) < static_cast<std::size_t>(ed.lsize()),
        "clipboard terminated");
  Check(strnlen(ed.current_name, kNameSize) < kNameSize, "file name terminated");
  Check(std::strchr(ed.launch_command, '\n') == nullptr, "launch command without line end");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  std::string_view settings = Take(rest);
  std::string_view document = Take(rest);
  std::string keys(rest);
  // Typed names stay inside the folder.
  for (char& c : keys) {
    if (c == '/') c = '_';
  }

  // Only small grids: they keep every run fast and every slot checkable.
  KeyTable table{};
  MakeKeys(table);
  SetDefaultValues(table);
  GridSize grid;
  StartValues start;
  ApplySettings(settings, table, grid, start);
  if (static_cast<long long>(grid.lines) * grid.lsize > kMaxGridBytes) return 0;

  EnterWorkFolder();
  Write(kRcName, settings);
  Write("doc.txt", document);

  std::FILE* in =
      keys.empty() ? std::fopen("/dev/null", "rb") : fmemopen(keys.data(), keys.size(), "rb");
  std::FILE* out = std::fopen("/dev/null", "wb");
  Editor ed;
  ed.io = Io{in, out};
  std::string recorded;
  ed.options.run_shell = [&recorded](const char* command) { recorded = command; };
  const char* argv[] = {"morvax", "doc.txt"};
  if (StartEditor(ed, 2, argv)) {
    // Every turn reads at least one byte or ends the session.
    std::size_t turns = 0;
    do {
      CheckEditor(ed);
      Check(++turns <= keys.size() + 2, "a turn that reads nothing");
    } while (RunTurn(ed));
  }
  std::fclose(in);
  std::fclose(out);
  return 0;
}
