// The program entry: the editor runs on standard input and output.
#include <cstdio>

#include "app/editor.h"

int main(int argc, char** argv) {
  return RunEditor(argc, argv, Io{stdin, stdout, stderr});
}
