// UTF-8: how long a well-formed sequence is, and how bytes and code points convert.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

/// The bytes a UTF-8 sequence led by `lead` takes (1 for ASCII), or 0 for a byte that leads none.
int Utf8SequenceLength(unsigned char lead);

/// Whether `byte` may stand at position `i` (1 to 3) of a well-formed UTF-8 sequence led by
/// `lead` (no overlong forms, surrogates or code points beyond U+10FFFF).
bool Utf8Continues(unsigned char lead, int i, unsigned char byte);

/// The length of the well-formed UTF-8 sequence at the start of `text`, or 0 when there is none.
std::size_t Utf8Length(std::string_view text);

/// The code point of the well-formed sequence of `n` bytes at `seq`.
unsigned Utf8Decode(const unsigned char* seq, int n);

/// Appends the UTF-8 encoding of code point `code` (at most U+10FFFF) to `out`.
void AppendUtf8(std::string& out, unsigned code);
