// The program entry: the editor runs on standard input and output.
#include <cstdio>

#include "app/editor.h"

int main(int argc, char** argv) {
  // Output is flushed before every read, so full buffering costs a terminal user nothing.
  static char buffer[1 << 16];
  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  return RunEditor(argc, argv, Io{stdin, stdout});
}
