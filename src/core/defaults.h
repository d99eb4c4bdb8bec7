// Each default the editor starts with, in one place: the settings file, the fall-back grid and
// the messages that name them all read them from here.
#pragma once

/// The grid's dimensions: `lines` slots of `lsize` bytes (a line holds lsize - 1 characters).
struct GridSize {
  int lines = 32767;
  int lsize = 256;
};

inline constexpr GridSize kDefaultGrid;
inline constexpr int kDefaultPageLength = 8;
/// File names and the launch command: 255 characters and the terminator.
inline constexpr int kNameSize = 256;
