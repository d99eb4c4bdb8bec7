// How a text from a file is shown at a terminal: its caret display, so that no file can drive
// the terminal.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "core/io.h"

/// The caret display of a text on a terminal whose character set is UTF-8 (`utf8`) or another.
/// Control bytes (0x00-0x1f but tab, and 0x7f) show as "^@".."^_" and "^?". Under UTF-8, every
/// byte that is not part of a valid UTF-8 sequence, and both bytes of the encodings of the C1
/// controls U+0080-U+009F, show as "\xNN" in lower-case hex; valid sequences stay as they are.
/// Under another character set the bytes 0x80-0x9f show as "\xNN" and every other byte stays.
std::string CaretDisplay(std::string_view text, bool utf8);
/// The same, appended to `out`.
void AppendCaretDisplay(std::string_view text, std::string& out, bool utf8);

/// Takes the user's character set for this process (setlocale(LC_CTYPE, "")) and says whether
/// it is UTF-8.
bool UserCharsetIsUtf8();

/// Shown (below) for the view's lines, which are printed every turn: the caret display goes to
/// io.shown, whose room is kept from turn to turn. Valid until the next call.
std::string_view ShownInPlace(Io& io, std::string_view text);
/// The same for a NUL-terminated text: the result is NUL-terminated too.
const char* ShownInPlace(Io& io, const char* text);

/// Shown (below) written into `room` instead of a string of its own, cut before the first
/// part that does not fit: for a message that must be told when no memory can be had.
/// NUL-terminated; `room` holds at least one byte.
const char* ShownInto(const Io& io, const char* text, std::span<char> room);

/// A text that comes from a document, a file name, the settings file or a stored command, as it
/// is printed: at a terminal (io.out_terminal) its caret display for the terminal's character
/// set (io.utf8), so that no file can drive the terminal; elsewhere the text itself, byte for
/// byte and without a copy. For a "%s" argument:
///   Print(io, msg::kOpened, Shown(io, name).c_str());
class Shown {
 public:
  Shown(const Io& io, const char* text) : text_(text) {
    if (io.out_terminal) {
      shown_ = CaretDisplay(text, io.utf8);
      text_ = shown_.c_str();
    }
  }
  Shown(const Shown&) = delete;
  Shown& operator=(const Shown&) = delete;
  const char* c_str() const { return text_; }

 private:
  const char* text_;   // the text itself, or shown_'s
  std::string shown_;  // the caret display, at a terminal
};
