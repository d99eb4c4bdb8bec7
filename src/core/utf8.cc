#include "core/utf8.h"

int Utf8SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xc2 && lead <= 0xdf) return 2;
  if (lead >= 0xe0 && lead <= 0xef) return 3;
  if (lead >= 0xf0 && lead <= 0xf4) return 4;
  return 0;
}

bool Utf8Continues(unsigned char lead, int i, unsigned char byte) {
  unsigned lo = 0x80;
  unsigned hi = 0xbf;
  if (i == 1) {
    if (lead == 0xe0) lo = 0xa0;  // no overlong forms
    if (lead == 0xf0) lo = 0x90;
    if (lead == 0xed) hi = 0x9f;  // no surrogates
    if (lead == 0xf4) hi = 0x8f;  // nothing beyond U+10FFFF
  }
  return byte >= lo && byte <= hi;
}

std::size_t Utf8Length(std::string_view text) {
  if (text.empty()) return 0;
  auto lead = static_cast<unsigned char>(text[0]);
  int n = Utf8SequenceLength(lead);
  if (n == 0 || static_cast<std::size_t>(n) > text.size()) return 0;
  for (int i = 1; i < n; ++i) {
    if (!Utf8Continues(lead, i, static_cast<unsigned char>(text[static_cast<std::size_t>(i)]))) {
      return 0;
    }
  }
  return static_cast<std::size_t>(n);
}

unsigned Utf8Decode(const unsigned char* seq, int n) {
  static constexpr unsigned kLeadBits[] = {0, 0x7f, 0x1f, 0x0f, 0x07};
  unsigned code = seq[0] & kLeadBits[n];
  for (int i = 1; i < n; ++i) code = (code << 6) | (seq[i] & 0x3f);
  return code;
}

void AppendUtf8(std::string& out, unsigned code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xc0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3f));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xe0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (code & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (code & 0x3f));
  }
}
