// How a text from a file is shown at a terminal: its caret display, so that no file can drive
// the terminal.
#pragma once

#include <string>
#include <string_view>

#include "core/io.h"

/// The caret display of a text: control bytes (0x00-0x1f but tab, and 0x7f) as "^@".."^_" and
/// "^?"; C1 controls (0x80-0x9f outside a UTF-8 sequence, and the UTF-8 encodings of
/// U+0080-U+009F) as "\xNN" per byte, in lower-case hex. Every other byte, a tab, a valid
/// UTF-8 sequence or a stray byte from 0xa0 up, stays as it is.
std::string CaretDisplay(std::string_view text);
/// The same, appended to `out`.
void AppendCaretDisplay(std::string_view text, std::string& out);

/// Shown (below) for the view's lines, which are printed every turn: the caret display goes to
/// io.shown, whose room is kept from turn to turn. Valid until the next call.
const char* ShownInPlace(Io& io, const char* text);

/// A text that comes from a document, a file name, the settings file or a stored command, as it
/// is printed: at a terminal (io.out_terminal) its caret display, so that no file can drive the
/// terminal; elsewhere the text itself, byte for byte and without a copy. For a "%s" argument:
///   Print(io, msg::kOpened, Shown(io, name).c_str());
class Shown {
 public:
  Shown(const Io& io, const char* text) : text_(text) {
    if (io.out_terminal) {
      shown_ = CaretDisplay(text);
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
