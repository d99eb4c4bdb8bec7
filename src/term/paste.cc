// The bytes the terminal sends, typed or pasted, turned into libedit's characters as the
// comment on State says: UTF-8 decoded where the locale says so, C1 controls and pasted text
// handed over as kAct, the paste markers taken out.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "core/utf8.h"
#include "term/line_editor_state.h"

namespace line_editing {
namespace {

// One byte of input, those given back first (see WaitForInput for `attend`). An interrupted
// read is not retried, so that the signal that interrupted it is handled by the caller.
Got NextByte(State& s, unsigned char& byte, bool attend) {
  if (s.ahead_count > 0) {
    byte = s.ahead[0];
    std::memmove(s.ahead, s.ahead + 1, static_cast<std::size_t>(--s.ahead_count));
    return Got::kInput;
  }
  if (s.chunk_at < s.chunk_end) {
    byte = s.chunk[s.chunk_at++];
    return Got::kInput;
  }
  for (;;) {
    if (Got waited = WaitForInput(s, attend); waited != Got::kInput) return waited;
    // Typed keys are read one by one, so that none is taken from a launch command; a paste in
    // one go, since it is all the editor's (keys typed right after it may come with it).
    ssize_t n = ::read(s.fd, s.in_paste ? s.chunk : &byte, s.in_paste ? sizeof s.chunk : 1);
    if (n > 0 && s.in_paste) {
      s.chunk_at = 1;
      s.chunk_end = static_cast<int>(n);
      byte = s.chunk[0];
    }
    if (n > 0) return Got::kInput;
    // A non-blocking terminal whose byte another reader took first: wait again.
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    return n == 0 ? Got::kEnd : Got::kFailed;
  }
}

// Gives bytes back, to be read again before any other.
void GiveBack(State& s, const unsigned char* bytes, int n) {
  std::memmove(s.ahead + n, s.ahead, static_cast<std::size_t>(s.ahead_count));
  std::memcpy(s.ahead, bytes, static_cast<std::size_t>(n));
  s.ahead_count += n;
}

enum class Marker { kNone, kStart, kEnd };

// After an ESC: the rest of a paste marker, "[200~" (start) or "[201~" (end). Bytes that spell
// no marker are given back, except after a signal or an error (`got` kFailed): they belong to
// the line that it drops.
Marker ReadMarker(State& s, Got& got) {
  static constexpr char kStart[] = "[200~";
  unsigned char seen[5];
  int n = 0;
  for (;;) {
    got = NextByte(s, seen[n], false);
    if (got != Got::kInput) break;
    unsigned char c = seen[n++];
    bool fits = c == kStart[n - 1] || (n == 4 && c == '1');
    if (!fits) break;
    if (n == 5) return seen[3] == '0' ? Marker::kStart : Marker::kEnd;
  }
  if (got != Got::kFailed) GiveBack(s, seen, n);
  return Marker::kNone;
}

// Hands what was pasted or must be put in as it stands to libedit: kAct, then kNewline for a
// line end.
int Hand(State& s, wchar_t* c, bool line_end) {
  std::size_t held = LineLength(s) + s.insert.size();
  std::size_t left = s.room > held ? s.room - held : 0;
  if (s.paste_bytes.size() > left) {
    s.paste_bytes.resize(left);
    s.cut = true;
  }
  AppendWide(s, s.paste_bytes, s.insert);
  s.paste_bytes.clear();
  if (line_end) s.pending[s.pending_count++] = kNewline;
  *c = kAct;
  return 1;
}

// The character a typed byte begins, as the comment on State says.
int Decode(State& s, unsigned char lead, wchar_t* c) {
  unsigned char seq[4] = {lead};
  int n = lead < 0x80 ? 1 : s.utf8 ? Utf8SequenceLength(lead) : 0;
  int have = 1;
  while (have < n) {
    Got got = NextByte(s, seq[have], false);
    if (got == Got::kFailed) return -1;
    if (got == Got::kEnd || !Utf8Continues(seq[0], have, seq[have])) {
      // No character: each byte so far on its own, and the one that did not fit comes next.
      if (got == Got::kInput) GiveBack(s, seq + have, 1);
      for (int i = 1; i < have; ++i) s.pending[s.pending_count++] = kByteEscape + seq[i];
      n = 0;
      break;
    }
    ++have;
  }
  if (n == 0) {
    *c = static_cast<wchar_t>(kByteEscape + seq[0]);
    return 1;
  }
  auto code = static_cast<wchar_t>(Utf8Decode(seq, n));
  if (code >= 0x80 && code <= 0x9f) {
    // A C1 control is text too, though libedit binds those codes to keys.
    s.insert += code;
    *c = kAct;
    return 1;
  }
  *c = code;
  return 1;
}

// Whether a typed character goes on to libedit: a key that edits does, and so does the rest of
// a key's escape sequence; a character that would stand in the line beyond the room does not.
bool Fits(State& s, wchar_t c) {
  if (s.escape == 1) {
    s.escape = c == '[' || c == 'O' ? 2 : 0;
    return true;
  }
  if (s.escape == 2) {
    if (c >= 0x40 && c <= 0x7e) s.escape = 0;
    return true;
  }
  if (c == 0x1b) s.escape = 1;
  if (c < 0x20 || c == 0x7f) return true;
  return LineLength(s) < s.room;
}

// Not a result for libedit: the reader reads on.
constexpr int kReadOn = 2;

// A typed byte: a character for libedit (1), a failure (-1), or kReadOn, for a byte that only
// begins a character or a character that the line has no room for.
int TakeTyped(State& s, unsigned char byte, wchar_t* c) {
  if (Decode(s, byte, c) < 0) return -1;
  if (Fits(s, *c)) return 1;
  s.cut = true;  // counted, not kept
  s.insert.clear();
  return kReadOn;
}

// A pasted byte: a line end hands the paste gathered so far to libedit; any other byte is
// gathered (kReadOn).
int TakePasted(State& s, unsigned char byte, wchar_t* c) {
  bool lf_of_cr = byte == '\n' && s.after_cr;
  s.after_cr = byte == '\r';
  if (lf_of_cr) return kReadOn;
  s.pasted = true;
  if (byte == '\r' || byte == '\n') return Hand(s, c, true);
  // Bytes beyond what the line can take are counted, not kept.
  if (s.paste_bytes.size() < s.room) {
    s.paste_bytes += static_cast<char>(byte);
  } else {
    s.cut = true;
  }
  return kReadOn;
}

}  // namespace

// libedit's reader (EL_GETCFN): one character, as the comment on State says. Paste markers
// are taken here; a pasted text is gathered up to its next line end or its end.
int GetChar(EditLine* el, wchar_t* c) {
  State& s = StateOf(el);
  if (s.pending_at < s.pending_count) {
    *c = s.pending[s.pending_at++];
    return 1;
  }
  s.pending_at = s.pending_count = 0;
  for (;;) {
    unsigned char byte;
    Got got = NextByte(s, byte, true);
    if (got == Got::kAttention) return Hand(s, c, false);
    if (got != Got::kInput) {
      s.input_ended = true;
      return got == Got::kEnd ? 0 : -1;
    }
    if (byte == 0x1b) {
      Marker marker = ReadMarker(s, got);
      if (got == Got::kFailed) return -1;
      if (marker == Marker::kStart) {
        s.in_paste = true;
        continue;
      }
      if (marker == Marker::kEnd) {
        s.in_paste = s.after_cr = false;
        if (s.paste_bytes.empty()) continue;
        return Hand(s, c, false);  // a paste without a line end stays in the line
      }
    }
    int result = s.in_paste ? TakePasted(s, byte, c) : TakeTyped(s, byte, c);
    if (result != kReadOn) return result;
  }
}

}  // namespace line_editing
