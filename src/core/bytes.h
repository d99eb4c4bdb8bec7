// A block of bytes had from malloc: what start-up and the rescue use, since a failed operator
// new must throw, and a throw may itself need memory.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>

struct FreeBytes {
  void operator()(char* bytes) const { std::free(bytes); }
};
using Bytes = std::unique_ptr<char[], FreeBytes>;

/// `size` bytes, all 0; null when they cannot be had.
inline Bytes ZeroedBytes(std::size_t size) {
  return Bytes(static_cast<char*>(std::calloc(size, 1)));
}
