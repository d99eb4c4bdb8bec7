#include "term/caret.h"

#include <langinfo.h>

#include <clocale>
#include <cstring>

#include "core/utf8.h"

namespace {

void AppendHex(std::string& out, unsigned char c) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out += "\\x";
  out += kDigits[c >> 4];
  out += kDigits[c & 0xf];
}

}  // namespace

std::string CaretDisplay(std::string_view text, bool utf8) {
  std::string out;
  AppendCaretDisplay(text, out, utf8);
  return out;
}

bool UserCharsetIsUtf8() {
  std::setlocale(LC_CTYPE, "");
  return std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
}

std::string_view ShownInPlace(Io& io, std::string_view text) {
  if (!io.out_terminal) return text;
  io.shown.clear();
  AppendCaretDisplay(text, io.shown, io.utf8);
  return io.shown;
}

const char* ShownInPlace(Io& io, const char* text) {
  return io.out_terminal ? ShownInPlace(io, std::string_view(text)).data() : text;
}

void AppendCaretDisplay(std::string_view text, std::string& out, bool utf8) {
  out.reserve(out.size() + text.size());
  while (!text.empty()) {
    unsigned char c = static_cast<unsigned char>(text[0]);
    std::size_t n = c >= 0x80 && utf8 ? Utf8Length(text) : 0;
    if (n == 2 && c == 0xc2 && static_cast<unsigned char>(text[1]) <= 0x9f) {
      // U+0080-U+009F: a C1 control however it is encoded.
      AppendHex(out, c);
      AppendHex(out, static_cast<unsigned char>(text[1]));
    } else if (n > 0) {
      out.append(text.substr(0, n));
    } else if ((c < 0x20 && c != '\t') || c == 0x7f) {
      out += '^';
      out += static_cast<char>(c ^ 0x40);  // ^@ for 0x00 ... ^_ for 0x1f, ^? for 0x7f
    } else if (c >= 0x80 && (utf8 || c <= 0x9f)) {
      // Under UTF-8 no byte outside a sequence is text; elsewhere 0x80-0x9f are C1 controls.
      AppendHex(out, c);
    } else {
      out += static_cast<char>(c);
    }
    text.remove_prefix(n > 0 ? n : 1);
  }
}
