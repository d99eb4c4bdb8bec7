#include "term/caret.h"

#include <langinfo.h>

#include <clocale>
#include <cstring>

#include "core/utf8.h"

namespace {

// Hands the caret display of `text` to `put` (a callable taking a std::string_view), part by
// part.
template <typename Put>
void EachShownPart(std::string_view text, bool utf8, Put put) {
  auto hex = [&](unsigned char c) {
    static constexpr char kDigits[] = "0123456789abcdef";
    const char part[] = {'\\', 'x', kDigits[c >> 4], kDigits[c & 0xf]};
    put(std::string_view(part, sizeof part));
  };
  while (!text.empty()) {
    unsigned char c = static_cast<unsigned char>(text[0]);
    std::size_t n = c >= 0x80 && utf8 ? Utf8Length(text) : 0;
    if (n == 2 && c == 0xc2 && static_cast<unsigned char>(text[1]) <= 0x9f) {
      // U+0080-U+009F: a C1 control however it is encoded.
      hex(c);
      hex(static_cast<unsigned char>(text[1]));
    } else if (n > 0) {
      put(text.substr(0, n));
    } else if ((c < 0x20 && c != '\t') || c == 0x7f) {
      // ^@ for 0x00 ... ^_ for 0x1f, ^? for 0x7f
      const char part[] = {'^', static_cast<char>(c ^ 0x40)};
      put(std::string_view(part, sizeof part));
    } else if (c >= 0x80 && (utf8 || c <= 0x9f)) {
      // Under UTF-8 no byte outside a sequence is text; elsewhere 0x80-0x9f are C1 controls.
      hex(c);
    } else {
      put(text.substr(0, 1));
    }
    text.remove_prefix(n > 0 ? n : 1);
  }
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
  EachShownPart(text, utf8, [&](std::string_view part) { out.append(part); });
}

const char* ShownInto(const Io& io, const char* text, std::span<char> room) {
  if (!io.out_terminal) return text;
  std::size_t used = 0;
  bool full = false;
  EachShownPart(text, io.utf8, [&](std::string_view part) {
    full = full || used + part.size() >= room.size();
    if (full) return;
    std::memcpy(room.data() + used, part.data(), part.size());
    used += part.size();
  });
  room[used] = '\0';
  return room.data();
}
