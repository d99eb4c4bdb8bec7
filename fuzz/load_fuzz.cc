// Loading: random file bytes into a small random grid. The load must either place exactly the
// lines that a plain reference splitting gives, or (when they are more than the grid holds)
// ask the partial-load question and, on "Y", keep the first lines.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "app/editor.h"
#include "app/file_commands.h"
#include "doc/load.h"

namespace {

// The lines a text gives: every newline ends a line; what follows the last newline is a line
// when it is not empty; a line longer than max characters is cut into pieces of max.
std::vector<std::string> Reference(std::string_view bytes, int max) {
  if (!bytes.empty() && bytes.back() == '\n') bytes.remove_suffix(1);
  bytes = bytes.substr(0, bytes.find('\0'));
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    bool last = end == std::string_view::npos;
    if (last) end = bytes.size();
    std::string_view line = bytes.substr(start, end - start);
    if (last && line.empty()) break;
    do {
      lines.emplace_back(line.substr(0, max));
      line.remove_prefix(std::min<std::size_t>(line.size(), max));
    } while (!line.empty());
    if (last) break;
    start = end + 1;
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  if (size < 2) return 0;
  GridSize grid{1 + data[0] % 12, 2 + data[1] % 10};
  std::string_view bytes(reinterpret_cast<const char*>(data) + 2, size - 2);

  static char answer[] = "Y\n";
  char* printed = nullptr;
  std::size_t printed_size = 0;
  Editor ed;
  ed.io = Io{fmemopen(answer, 2, "rb"), open_memstream(&printed, &printed_size)};
  if (!AllocateBuffers(ed, grid)) std::abort();
  // Something to be replaced.
  for (int i = 0; i < ed.lines(); ++i) ed.doc.slot(i)[0] = '#';

  LoadBytes(ed, bytes);
  std::fclose(ed.io.in);
  std::fclose(ed.io.out);
  std::string out(printed, printed_size);
  std::free(printed);

  std::vector<std::string> expected = Reference(bytes, grid.lsize - 1);
  // A NUL byte before the final newline cuts the text: that load is partial too.
  std::string_view uncut = bytes;
  if (!uncut.empty() && uncut.back() == '\n') uncut.remove_suffix(1);
  bool partial = static_cast<int>(expected.size()) > grid.lines ||
                 uncut.find('\0') != std::string_view::npos;
  Check(partial == (out.find("Do you wish to continue (Y,n)?") != std::string::npos),
        "partial-load question");
  Check(ed.running, "still running after Y");
  Check(ed.doc.CheckInvariant(), "zero tails");
  for (int i = 0; i < grid.lines; ++i) {
    std::span<const char> slot = ed.doc.view(i);
    std::string got(slot.data(), LineLength(slot));
    std::string want = i < static_cast<int>(expected.size()) ? expected[i] : "";
    Check(got == want, "line text");
  }
  return 0;
}
