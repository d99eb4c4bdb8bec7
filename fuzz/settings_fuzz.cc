// The settings reader on random text: whatever the text, the keys, the grid's dimensions and
// the starting values end inside their valid ranges.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "check.h"
#include "app/commands.h"
#include "app/editor.h"
#include "settings/rc.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  KeyTable keys{};
  MakeKeys(keys);
  SetDefaultValues(keys);
  GridSize grid;
  StartValues start;
  ApplySettings(text, keys, grid, start);

  for (int id = 0; id < kCommandCount; ++id) {
    Check(keys[id].value[0] != '\0' && keys[id].value[0] != '\n', "key is one character");
    Check(keys[id].value[1] == '\0', "key is terminated");
    Check(std::strcmp(keys[id].name, kCommands[id].name) == 0, "names never change");
  }
  Check(grid.lines > 0, "lines positive");
  Check(grid.lsize >= 2, "line width at least one character");
  Check(start.anchor >= 0 && start.anchor <= grid.lsize - 2, "anchor below the last column");
  Check(start.page_length >= 1, "page length at least 1");
  Check(start.show_numbers == 0 || start.show_numbers == 1, "numbers flag 0 or 1");
  Check(strnlen(start.launch_command, kNameSize) < kNameSize, "launch command terminated");
  Check(std::strchr(start.launch_command, '\n') == nullptr, "launch command on one line");
  return 0;
}
