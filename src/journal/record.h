// The journal's format: a header that says where the document came from, then one record per
// change, each framed by its length and a checksum, so that a journal cut short or damaged
// is read up to its last whole record and no further.
//
//   frame:   u32 length of the payload, u32 check (of the length's bytes and the payload),
//            the payload
//   payload: 'H' the header (JournalHeader, in the order of its fields)
//            'S' a splice: u32 from, u32 removed, u32 added, u32 blank (Document::Change),
//                then `added` lines
//            'W' the whole document: u32 count, then `count` lines
//   a line:  u32 length, its bytes (no line end)
//
// Numbers are in the machine's own order: a journal is read on the machine that wrote it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/document.h"

/// A checksum of a stream of bytes, the same however the stream is cut into pieces.
class Checksum {
 public:
  void Add(std::string_view bytes);
  std::uint64_t Value() const;

 private:
  void Word(std::uint64_t word);
  std::uint64_t state_ = 0x6d6f72766178ull;
  std::uint64_t length_ = 0;
  std::uint64_t pending_ = 0;  // bytes not yet a whole word, low byte first
  int pending_count_ = 0;
};

/// Where the document a journal records came from, and the session that keeps it.
struct JournalHeader {
  std::string name;  // the document's name as the session gave it ("" for none)
  std::string path;  // its absolute path ("" for none)
  bool read = false;  // a file was read (or saved) there: else the document began empty
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool has_birth = false;  // the file system reports a birth time
  std::int64_t birth_sec = 0;
  std::uint32_t birth_nsec = 0;
  std::uint64_t checksum = 0;  // of the file's bytes as read or saved
  std::uint64_t size = 0;      // how many bytes those were
  std::int32_t lines = 0;      // the grid in force
  std::int32_t lsize = 0;
  std::int32_t pid = 0;
  std::string boot_id;
  std::int64_t since = 0;  // when the journal was made, in seconds since the epoch

  /// Whether `other` names the same file: the same device and inode, and the same birth time
  /// where both report one.
  bool SameFile(const JournalHeader& other) const;
};

/// Appends a framed record to `out` (the journal's write buffer, reused from one record to the
/// next).
void AppendHeader(std::string& out, const JournalHeader& header);
/// The change `change` of `doc`: the lines it added, read from the document as it now is.
void AppendChange(std::string& out, const Document& doc, const Document::Change& change);

/// Reads a journal's bytes frame by frame.
class JournalReader {
 public:
  explicit JournalReader(std::string_view bytes) : rest_(bytes) {}
  /// The next whole, checked payload; false at the end or at a frame that is cut or damaged,
  /// which `damaged` then tells from a clean end.
  bool Next(std::string_view& payload);
  bool damaged() const { return !rest_.empty(); }
  /// How many bytes follow the last whole record.
  std::size_t left() const { return rest_.size(); }

 private:
  std::string_view rest_;
};

/// Reads a header payload; false when it is none or is damaged.
bool ReadHeader(std::string_view payload, JournalHeader& header);

/// Carries a change record out on `doc` (which has the header's grid): 0, EINVAL for a payload
/// that is none, or ENOMEM.
[[nodiscard]] Status ApplyRecord(std::string_view payload, Document& doc);

/// Calls `each` with every line a change record carries, in order; false for a payload that is
/// none.
template <typename Each>
bool EachLineOf(std::string_view payload, Each each);

namespace journal_detail {
bool TakeU32(std::string_view& in, std::uint32_t& value);
bool TakeLine(std::string_view& in, std::string_view& line);
}  // namespace journal_detail

template <typename Each>
bool EachLineOf(std::string_view payload, Each each) {
  using namespace journal_detail;
  if (payload.empty() || (payload[0] != 'S' && payload[0] != 'W')) return false;
  bool splice = payload[0] == 'S';
  payload.remove_prefix(1);
  std::uint32_t skip = 0, count = 0;
  if (splice && (!TakeU32(payload, skip) || !TakeU32(payload, skip))) return false;
  if (!TakeU32(payload, count) || (splice && !TakeU32(payload, skip))) return false;
  for (std::uint32_t k = 0; k < count; ++k) {
    std::string_view line;
    if (!TakeLine(payload, line)) return false;
    each(line);
  }
  return true;
}
