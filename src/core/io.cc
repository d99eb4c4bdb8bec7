#include "core/io.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

bool ReadLine(Io& io, char* buf, int limit) {
  buf[0] = '\0';
  std::fflush(io.out);
  if (io.at_end) return false;
  if (std::fgets(buf, limit, io.in) == nullptr) {
    buf[0] = '\0';
    io.at_end = true;
    return false;
  }
  return true;
}

void StripLineEnd(char* text) {
  char* end = std::strchr(text, '\n');
  if (end != nullptr) *end = '\0';
}

bool ReadNumber(Io& io, char (&answer)[8], int& value) {
  if (!ReadLine(io, answer, sizeof answer)) return false;
  // Seven characters cannot leave the int range.
  value = static_cast<int>(std::strtol(answer, nullptr, 10));
  return true;
}

bool ReadAnswer(Io& io, char* buf, int limit) {
  if (!ReadLine(io, buf, limit)) return false;
  StripLineEnd(buf);
  return true;
}

void Line(Io& io, const char* text) {
  std::fputs(text, io.out);
  std::fputc('\n', io.out);
}

void Print(Io& io, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(io.out, format, args);
  va_end(args);
}
