#include "core/io.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "core/signals.h"

namespace {

// A read that gives no line: the buffer is emptied, and the rest of this turn's reads give none.
Read Fail(Io& io, char* buf, Read result) {
  buf[0] = '\0';
  io.abandoned = true;
  return result;
}

// A read that a recorded signal ends. Ctrl-C at a terminal is taken here: it only leaves the
// command. Any other signal stays recorded for the loop.
Read Signalled(Io& io, char* buf) {
  if (io.terminal && PendingSignal() == SIGINT) {
    ClearInterrupt();
    return Fail(io, buf, Read::kInterrupted);
  }
  return Fail(io, buf, Read::kSignal);
}

// The input ended: at a terminal without an error (Ctrl-D), only for this command.
Read Ended(Io& io, char* buf, bool for_good) {
  if (for_good) io.at_end = true;
  return Fail(io, buf, for_good ? Read::kEnd : Read::kEndTyped);
}

// Keeps at most limit - 1 bytes of a line, its line end included when it fits, and drops the
// rest; cut() tells whether anything but the line end was dropped. The text ends at a NUL it
// kept, so nothing after that NUL counts as dropped.
class Keeper {
 public:
  Keeper(char* buf, int limit) : buf_(buf), limit_(limit) {}

  /// Takes the next byte of the line; false once the line has ended.
  bool Take(int c) {
    if (kept_ < limit_ - 1) {
      buf_[kept_++] = static_cast<char>(c);
      if (c == '\0') nul_ = true;
      return c != '\n';
    }
    if (c == '\n') return false;
    if (!nul_) cut_ = true;
    return true;
  }
  int kept() const { return kept_; }
  /// Bytes beyond the limit were dropped before they reached the keeper.
  void Cut() {
    if (!nul_) cut_ = true;
  }
  /// Ends the text kept and says what the read gave: a line, `pasted` or not.
  Read Finish(bool pasted = false) {
    buf_[kept_] = '\0';
    if (pasted) return nul_ ? Read::kPastedNul : cut_ ? Read::kPastedCut : Read::kPasted;
    return nul_ ? Read::kLineNul : cut_ ? Read::kLineCut : Read::kLine;
  }

 private:
  char* buf_;
  int limit_;
  int kept_ = 0;
  bool nul_ = false;
  bool cut_ = false;
};

// A read at a terminal through the line editor, which shows `prompt` before the line.
Read ReadEdited(Io& io, char* buf, int limit, Asks asks, const std::string& prompt) {
  LineReader::Typed line;
  LineReader::Outcome outcome;
  do {
    outcome = io.editor->Read(prompt.c_str(), asks, static_cast<std::size_t>(limit - 1), line);
    // Interrupted by a signal this editor does not act on: the read goes on.
  } while (outcome == LineReader::Outcome::kFailed && errno == EINTR && PendingSignal() == 0);
  if (outcome == LineReader::Outcome::kOff) {
    io.editor = nullptr;
    io.editing_off = line.off;
    io.prompt = prompt;  // shown by the read made again
    buf[0] = '\0';
    return Read::kEditingOff;
  }
  if (outcome == LineReader::Outcome::kEnd) return Ended(io, buf, false);
  if (outcome == LineReader::Outcome::kFailed) {
    // An error or a hangup leaves the terminal unreadable.
    return errno == EINTR ? Signalled(io, buf) : Ended(io, buf, true);
  }
  Keeper keeper(buf, limit);
  for (char c : line.bytes) {
    if (!keeper.Take(static_cast<unsigned char>(c))) break;
  }
  if (line.cut) keeper.Cut();
  return keeper.Finish(outcome == LineReader::Outcome::kPasted);
}

// The write of a RetryingStream: every byte, or fewer (errno says why) when write(2) fails for
// another reason than a signal, or a signal that ends the session has come. A write cut short
// is what a signal leaves when some bytes had gone.
ssize_t WriteRetrying(void* cookie, const char* bytes, std::size_t size) {
  auto& target = *static_cast<RetryingStream::Target*>(cookie);
  std::size_t done = 0;
  while (done < size && !target.given_up) {
    ssize_t n = ::write(target.fd, bytes + done, size - done);
    if (n > 0) done += static_cast<std::size_t>(n);
    if (n == 0) errno = EIO;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A non-blocking output that takes nothing now: waited for, then written to again as
      // after a signal (one that ends the session ends the wait as well).
      Status ready = WaitReady(target.fd, POLLOUT, WaitEnds::kEndingSignal, target.terminal);
      errno = ready.ok() ? EINTR : ready.err;
    }
    if (n == 0 || (n < 0 && errno != EINTR)) return static_cast<ssize_t>(done);
    target.given_up = done < size && EndingSignalPending(target.terminal);
  }
  if (target.given_up) errno = EINTR;
  return static_cast<ssize_t>(done);
}

}  // namespace

RetryingStream::RetryingStream(int fd, bool terminal) : target_{fd, terminal} {
  cookie_io_functions_t functions = {nullptr, &WriteRetrying, nullptr, nullptr};
  file_ = fopencookie(&target_, "w", functions);
  // Output is flushed before every read, so full buffering costs a terminal user nothing. The
  // buffer is had here, so that no later write asks for memory.
  constexpr std::size_t kBuffer = 1 << 16;
  buffer_.reset(static_cast<char*>(std::malloc(kBuffer)));
  if (file_ != nullptr && buffer_ != nullptr) {
    std::setvbuf(file_, buffer_.get(), _IOFBF, kBuffer);
  } else if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

RetryingStream::~RetryingStream() {
  if (file_ != nullptr) std::fclose(file_);
}

bool KeptText::Append(std::string_view text, std::size_t most) {
  std::size_t size = size_ + text.size();
  if (size > most) {
    clear();
    return false;
  }
  if (size + 1 > room_) {
    std::size_t room = std::min(std::max({size + 1, 2 * room_, std::size_t{256}}), most + 1);
    auto* grown = static_cast<char*>(std::realloc(bytes_.get(), room));
    if (grown == nullptr) {
      clear();
      return false;
    }
    (void)bytes_.release();  // now grown
    bytes_.reset(grown);
    room_ = room;
  }
  std::memcpy(bytes_.get() + size_, text.data(), text.size());
  size_ = size;
  bytes_[size_] = '\0';
  return true;
}

void KeptText::clear() {
  size_ = 0;
  if (room_ > 0) bytes_[0] = '\0';
}

void NewTurn(Io& io) {
  io.abandoned = false;
  io.question.clear();
  io.keep_question = false;
}

void StartQuestion(Io& io) {
  io.question.clear();
  io.keep_question = io.editor != nullptr;
}

namespace {

// The line from the stream itself, without line editing.
Read ReadStream(Io& io, char* buf, int limit) {
  Keeper keeper(buf, limit);
  for (;;) {
    int c = getc_unlocked(io.in);
    if (c == EOF) {
      int err = std::ferror(io.in) != 0 ? errno : 0;
      if (err == EAGAIN || err == EWOULDBLOCK) {
        // A non-blocking input that has nothing yet: waited for, never taken as its end.
        err = WaitReady(fileno(io.in), POLLIN, WaitEnds::kAnySignal, io.terminal).err;
        if (err == 0) {
          std::clearerr(io.in);
          continue;
        }
      }
      if (err == EINTR) {
        std::clearerr(io.in);
        if (PendingSignal() != 0) return Signalled(io, buf);
        continue;
      }
      if (keeper.kept() > 0 && std::ferror(io.in) == 0) break;  // a last line without its end
      if (io.terminal && std::ferror(io.in) == 0) {
        std::clearerr(io.in);  // Ctrl-D: the terminal can still be read
        return Ended(io, buf, false);
      }
      return Ended(io, buf, true);
    }
    if (!keeper.Take(c)) break;
  }
  return keeper.Finish();
}

}  // namespace

Read ReadInputLine(Io& io, char* buf, int limit, Asks asks) {
  // The prompt left by Prompt() belongs to this read only.
  std::string prompt = std::move(io.prompt);
  io.prompt.clear();
  buf[0] = '\0';
  // A prompt kept for a line editor that has stopped since.
  if (io.editor == nullptr) std::fputs(prompt.c_str(), io.out);
  if (std::fflush(io.out) != 0 || std::ferror(io.out) != 0) {
    io.output_failed = true;
    io.at_end = true;
  }
  if (io.output_failed) return Fail(io, buf, Read::kOutputFailed);
  if (PendingSignal() != 0) return Signalled(io, buf);
  if (io.at_end) return Fail(io, buf, Read::kEnd);
  if (io.abandoned) return Fail(io, buf, Read::kAbandoned);
  if (io.editor != nullptr) {
    Read read = ReadEdited(io, buf, limit, asks, prompt);
    StartQuestion(io);  // what follows is the next read's question
    return read;
  }

  return ReadStream(io, buf, limit);
}

void StripLineEnd(char* text) {
  char* end = std::strchr(text, '\n');
  if (end != nullptr) *end = '\0';
}

void Prompt(Io& io, const char* text) {
  if (io.editor != nullptr) {
    io.prompt = text;
  } else {
    std::fputs(text, io.out);
  }
}

namespace {

// A question longer than this is not kept: it is not printed again.
constexpr std::size_t kQuestionMax = 1 << 16;

// Memory refused for it only stops the keeping: the question is then not printed again.
void KeepQuestion(Io& io, std::string_view text) {
  if (!io.question.Append(text, kQuestionMax)) io.keep_question = false;
}

// Keeps what Print printed (`size` bytes), formatted again on the stack; a longer text is not
// kept. A function of its own, so that a Print that keeps nothing (the rescue's, which may come
// with little stack left) does not take this room.
[[gnu::noinline]] void KeepPrinted(Io& io, int size, const char* format, va_list args) {
  char text[8192];
  if (static_cast<std::size_t>(size) < sizeof text) {
    std::vsnprintf(text, sizeof text, format, args);
    KeepQuestion(io, std::string_view(text, static_cast<std::size_t>(size)));
  } else {
    io.question.clear();
    io.keep_question = false;
  }
}

}  // namespace

void Line(Io& io, const char* text) {
  std::fputs(text, io.out);
  std::fputc('\n', io.out);
  if (io.keep_question) {
    KeepQuestion(io, text);
    KeepQuestion(io, "\n");
  }
}

void Print(Io& io, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int size = std::vfprintf(io.out, format, args);
  va_end(args);
  if (io.keep_question && size >= 0) KeepPrinted(io, size, format, again);
  va_end(again);
}
