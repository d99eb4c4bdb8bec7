// Loading: random file bytes into a small random grid. The load must either place exactly the
// lines that a reference splitting gives, or (when they are more than the grid holds) ask the
// partial-load question and, on "Y", keep the first lines. Saving what was loaded must give
// back the file's bytes, but for the known differences, unless the load printed a warning.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "app/editor.h"
#include "app/file_commands.h"
#include "doc/save.h"
#include "support.h"

namespace {

// The lines of a file, read the way a person reads the format, one byte at a time: a newline
// ends the line being read; a byte that would make the line longer than `max` characters
// starts the next line; what is left at the end is a line when it holds anything; the first
// NUL byte ends the file. A file that ends in a newline ends with its last line: the empty
// line that its final newline ended is no line. Written apart from the loader, so that it
// cannot share a fault with it.
std::vector<std::string> Reference(std::string_view bytes, int max) {
  std::vector<std::string> lines;
  std::string line;
  bool open = false;  // `line` has begun (holds text, or was started by a split)
  bool cut = false;   // the file ended at a NUL byte
  for (char c : bytes) {
    if (c == '\0') {
      cut = true;
      break;
    }
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
      open = false;
      continue;
    }
    if (static_cast<int>(line.size()) == max) {
      lines.push_back(line);
      line.clear();
    }
    line += c;
    open = true;
  }
  if (open) lines.push_back(line);
  if (!cut && !bytes.empty() && bytes.back() == '\n' && !lines.empty() && lines.back().empty()) {
    lines.pop_back();
  }
  return lines;
}

// What saving a file's lines gives back, written from the known differences alone: a final
// newline is added where it is missing, trailing empty lines are dropped, and an empty
// document is one newline.
std::string SavedForm(std::string_view bytes) {
  std::string saved(bytes);
  if (saved.empty() || saved.back() != '\n') saved += '\n';
  while (saved.size() >= 2 && saved.ends_with("\n\n")) saved.pop_back();
  return saved;
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
  for (int i = 0; i < ed.lines(); ++i) {
    if (!ed.doc.SetLine(i, "#").ok()) std::abort();
  }

  LoadBytes(ed, bytes);
  std::fclose(ed.io.in);
  std::fclose(ed.io.out);
  std::string out(printed, printed_size);
  std::free(printed);

  std::vector<std::string> expected = Reference(bytes, grid.lsize - 1);
  bool partial = static_cast<int>(expected.size()) > grid.lines;
  // A NUL byte (never the final newline) cuts the text: that load is partial too.
  bool nul = bytes.find('\0') != std::string_view::npos;
  bool asked = out.find("Do you wish to continue (Y,n)?") != std::string::npos;
  Check(asked == (partial || nul), "partial-load question");
  Check(ed.running, "still running after Y");
  Check(ed.doc.CheckInvariant(), "every line within its limit");
  for (int i = 0; i < grid.lines; ++i) {
    std::string got(ed.doc.text(i).view());
    std::string want = i < static_cast<int>(expected.size()) ? expected[i] : "";
    Check(got == want, "line text");
  }

  // The round trip: a load that warned of nothing saves back the file's bytes.
  bool warned = out.find("WARNING!") != std::string::npos || asked;
  if (!warned && !nul) {
    std::string image(ImageSize(ed.doc), '\0');
    FormatLines(ed.doc, image);
    Check(image == SavedForm(bytes), "save gives back the loaded bytes");
  }
  return 0;
}
