#include "core/io.h"

#include <signal.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "core/signals.h"

namespace {

// A read that cannot go on: the rest of this turn's reads fail as well.
bool Abandon(Io& io, char* buf) {
  buf[0] = '\0';
  io.abandoned = true;
  if (io.terminal && PendingSignal() == SIGINT) {
    ClearInterrupt();
    std::fputs("\nInterrupted\n", io.out);  // moves up with the read results
  }
  return false;
}

// Keeps at most limit - 1 bytes of a line, its line end included when it fits, and drops the
// rest; io.lost tells whether anything but the line end was dropped. The text ends at a NUL it
// kept, so nothing after that NUL counts as lost.
class Keeper {
 public:
  Keeper(Io& io, char* buf, int limit) : io_(io), buf_(buf), limit_(limit) {}

  /// Takes the next byte of the line; false once the line has ended.
  bool Take(int c) {
    if (kept_ < limit_ - 1) {
      buf_[kept_++] = static_cast<char>(c);
      if (c == '\0') nul_ = true;
      return c != '\n';
    }
    if (c == '\n') return false;
    if (!nul_) io_.lost = true;
    return true;
  }
  int kept() const { return kept_; }
  /// Ends the text kept.
  void Finish() { buf_[kept_] = '\0'; }

 private:
  Io& io_;
  char* buf_;
  int limit_;
  int kept_ = 0;
  bool nul_ = false;
};

// A read at a terminal through the line editor, which shows `prompt` before the line.
bool ReadEdited(Io& io, char* buf, int limit, Asks asks, const std::string& prompt) {
  std::string line;
  LineReader::Status status;
  do {
    status = io.editor->Read(prompt.c_str(), asks == Asks::kFileName, line);
    // Interrupted by a signal this editor does not act on: the read goes on.
  } while (status == LineReader::Status::kFailed && errno == EINTR && PendingSignal() == 0);
  io.pasted = status == LineReader::Status::kPasted;
  if (status != LineReader::Status::kLine && !io.pasted) {
    io.ended = status == LineReader::Status::kEnd;
    // Ctrl-D leaves the terminal readable; an error or a hangup does not.
    if (status == LineReader::Status::kFailed && errno != EINTR) io.at_end = io.ended = true;
    return Abandon(io, buf);
  }
  Keeper keeper(io, buf, limit);
  for (char c : line) {
    if (!keeper.Take(static_cast<unsigned char>(c))) break;
  }
  keeper.Finish();
  return true;
}

}  // namespace

bool ReadLine(Io& io, char* buf, int limit, Asks asks) {
  // The prompt left by Prompt() belongs to this read only.
  std::string prompt = std::move(io.prompt);
  io.prompt.clear();
  buf[0] = '\0';
  io.lost = false;
  io.pasted = false;
  if (std::fflush(io.out) != 0 || std::ferror(io.out) != 0) {
    io.output_failed = true;
    io.at_end = true;
  }
  // An input that ended for good stays ended for every later read.
  io.ended = io.at_end && !io.output_failed;
  if (io.at_end || io.abandoned || PendingSignal() != 0) return Abandon(io, buf);
  if (io.editor != nullptr) return ReadEdited(io, buf, limit, asks, prompt);

  Keeper keeper(io, buf, limit);
  for (;;) {
    int c = getc_unlocked(io.in);
    if (c == EOF) {
      if (std::ferror(io.in) != 0 && errno == EINTR) {
        std::clearerr(io.in);
        if (PendingSignal() != 0) return Abandon(io, buf);
        continue;
      }
      if (keeper.kept() > 0 && std::ferror(io.in) == 0) break;  // a last line without its end
      io.ended = true;
      if (io.terminal && std::ferror(io.in) == 0) {
        std::clearerr(io.in);  // Ctrl-D: the terminal can still be read
      } else {
        io.at_end = true;
      }
      return Abandon(io, buf);
    }
    if (!keeper.Take(c)) break;
  }
  keeper.Finish();
  return true;
}

void StripLineEnd(char* text) {
  char* end = std::strchr(text, '\n');
  if (end != nullptr) *end = '\0';
}

bool ReadNumber(Io& io, int& value) {
  char answer[8];
  if (!ReadLine(io, answer, sizeof answer)) return false;
  // Seven characters cannot leave the int range.
  value = static_cast<int>(std::strtol(answer, nullptr, 10));
  return true;
}

bool ReadAnswer(Io& io, char* buf, int limit, Asks asks) {
  if (!ReadLine(io, buf, limit, asks)) return false;
  StripLineEnd(buf);
  return true;
}

void Prompt(Io& io, const char* text) {
  if (io.editor != nullptr) {
    io.prompt = text;
  } else {
    std::fputs(text, io.out);
  }
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

