// A place in the document: a line and a column, both counted from 0.
#pragma once

struct Pos {
  int line = 0;
  int column = 0;

  bool operator==(const Pos&) const = default;
};
