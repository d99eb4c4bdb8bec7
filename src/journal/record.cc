#include "journal/record.h"

#include <bit>
#include <cerrno>
#include <cstring>

namespace {

constexpr std::uint64_t kMul1 = 0x9e3779b97f4a7c15ull;
constexpr std::uint64_t kMul2 = 0xc2b2ae3d27d4eb4full;

void PutU32(std::string& out, std::uint32_t value) {
  out.append(reinterpret_cast<const char*>(&value), sizeof value);
}
template <typename T>
void Put(std::string& out, T value) {
  out.append(reinterpret_cast<const char*>(&value), sizeof value);
}
void PutText(std::string& out, std::string_view text) {
  PutU32(out, static_cast<std::uint32_t>(text.size()));
  out.append(text);
}

template <typename T>
bool Take(std::string_view& in, T& value) {
  if (in.size() < sizeof value) return false;
  std::memcpy(&value, in.data(), sizeof value);
  in.remove_prefix(sizeof value);
  return true;
}

// The check of a frame: its length's bytes and its payload.
std::uint32_t FrameCheck(std::string_view length, std::string_view payload) {
  Checksum sum;
  sum.Add(length);
  sum.Add(payload);
  return static_cast<std::uint32_t>(sum.Value());
}

// Frames the payload that `out` holds from `at` on: its length and check go before it.
void Frame(std::string& out, std::size_t at) {
  std::uint32_t length = static_cast<std::uint32_t>(out.size() - at);
  char head[8];
  std::memcpy(head, &length, 4);
  std::uint32_t check = FrameCheck({head, 4}, std::string_view(out).substr(at));
  std::memcpy(head + 4, &check, 4);
  out.insert(at, head, sizeof head);
}

}  // namespace

void Checksum::Word(std::uint64_t word) {
  state_ = std::rotl(state_ ^ (word * kMul1), 29) * kMul2;
}

void Checksum::Add(std::string_view bytes) {
  length_ += bytes.size();
  std::size_t k = 0;
  while (pending_count_ != 0 && k < bytes.size()) {
    pending_ |= std::uint64_t{static_cast<unsigned char>(bytes[k++])} << (8 * pending_count_);
    if (++pending_count_ == 8) {
      Word(pending_);
      pending_ = 0;
      pending_count_ = 0;
    }
  }
  for (; k + 8 <= bytes.size(); k += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes.data() + k, 8);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    Word(word);
  }
  for (; k < bytes.size(); ++k) {
    pending_ |= std::uint64_t{static_cast<unsigned char>(bytes[k])} << (8 * pending_count_++);
  }
}

std::uint64_t Checksum::Value() const {
  std::uint64_t h = std::rotl(state_ ^ (pending_ * kMul1), 29) * kMul2;
  h ^= length_ * kMul2;
  h ^= h >> 33;
  h *= kMul1;
  h ^= h >> 29;
  return h;
}

bool JournalHeader::SameFile(const JournalHeader& other) const {
  if (!read || !other.read || device != other.device || inode != other.inode) return false;
  return !has_birth || !other.has_birth ||
         (birth_sec == other.birth_sec && birth_nsec == other.birth_nsec);
}

void AppendHeader(std::string& out, const JournalHeader& h) {
  std::size_t at = out.size();
  out += 'H';
  PutText(out, h.name);
  PutText(out, h.path);
  Put<std::uint8_t>(out, h.read);
  Put(out, h.device);
  Put(out, h.inode);
  Put<std::uint8_t>(out, h.has_birth);
  Put(out, h.birth_sec);
  Put(out, h.birth_nsec);
  Put(out, h.checksum);
  Put(out, h.size);
  Put(out, h.lines);
  Put(out, h.lsize);
  Put(out, h.pid);
  PutText(out, h.boot_id);
  Put(out, h.since);
  Frame(out, at);
}

bool ReadHeader(std::string_view in, JournalHeader& h) {
  using journal_detail::TakeLine;
  if (in.empty() || in[0] != 'H') return false;
  in.remove_prefix(1);
  std::string_view name, path, boot;
  std::uint8_t read = 0, birth = 0;
  bool whole = TakeLine(in, name) && TakeLine(in, path) && Take(in, read) &&
               Take(in, h.device) && Take(in, h.inode) && Take(in, birth) &&
               Take(in, h.birth_sec) && Take(in, h.birth_nsec) && Take(in, h.checksum) &&
               Take(in, h.size) && Take(in, h.lines) && Take(in, h.lsize) && Take(in, h.pid) &&
               TakeLine(in, boot) && Take(in, h.since) && in.empty();
  if (!whole || h.lines <= 0 || h.lsize < 2) return false;
  h.name = name;
  h.path = path;
  h.boot_id = boot;
  h.read = read != 0;
  h.has_birth = birth != 0;
  return true;
}

void AppendChange(std::string& out, const Document& doc, const Document::Change& change) {
  std::size_t at = out.size();
  if (change.whole) {
    int count = DocLength(doc) + 1;
    out += 'W';
    PutU32(out, static_cast<std::uint32_t>(count));
    for (int i = 0; i < count; ++i) PutText(out, doc.text(i).view());
  } else {
    out += 'S';
    PutU32(out, static_cast<std::uint32_t>(change.from));
    PutU32(out, static_cast<std::uint32_t>(change.removed));
    PutU32(out, static_cast<std::uint32_t>(change.added));
    PutU32(out, static_cast<std::uint32_t>(change.blank));
    for (int k = 0; k < change.added; ++k) PutText(out, doc.text(change.from + k).view());
  }
  Frame(out, at);
}

bool JournalReader::Next(std::string_view& payload) {
  std::string_view in = rest_;
  std::uint32_t length = 0, check = 0;
  if (!Take(in, length) || !Take(in, check) || in.size() < length) return false;
  payload = in.substr(0, length);
  if (FrameCheck(rest_.substr(0, 4), payload) != check) return false;
  rest_ = in.substr(length);
  return true;
}

namespace journal_detail {

bool TakeU32(std::string_view& in, std::uint32_t& value) {
  return Take(in, value);
}

bool TakeLine(std::string_view& in, std::string_view& line) {
  std::uint32_t length = 0;
  if (!Take(in, length) || in.size() < length) return false;
  line = in.substr(0, length);
  in.remove_prefix(length);
  return true;
}

}  // namespace journal_detail

namespace {

// What a record says before its lines: a splice, or (W) the whole document.
struct Splice {
  char kind = 0;
  std::uint32_t from = 0, removed = 0, added = 0, blank = 0;
};

// Reads the splice and checks it against a document of `lines` lines and its lines whole;
// `in` is left at the first line.
bool ReadSplice(std::string_view& in, int lines, Splice& s) {
  using namespace journal_detail;
  if (in.empty()) return false;
  s.kind = in[0];
  in.remove_prefix(1);
  s.blank = static_cast<std::uint32_t>(lines);
  bool read = s.kind == 'W' ? TakeU32(in, s.added)
                            : s.kind == 'S' && TakeU32(in, s.from) && TakeU32(in, s.removed) &&
                                  TakeU32(in, s.added) && TakeU32(in, s.blank);
  auto all = static_cast<std::uint32_t>(lines);
  if (!read || s.from > all || s.added > all - s.from || s.blank > all) return false;
  std::string_view check = in;
  for (std::uint32_t k = 0; k < s.added; ++k) {
    std::string_view line;
    if (!TakeLine(check, line)) return false;
  }
  return check.empty();
}

}  // namespace

Status ApplyRecord(std::string_view payload, Document& doc) {
  using namespace journal_detail;
  int lines = doc.lines();
  Splice s;
  if (!ReadSplice(payload, lines, s)) return EINVAL;  // checked whole before anything changes
  if (s.kind == 'W') {
    doc.Clear();
    s.removed = 0;
  }
  int at = static_cast<int>(s.from);
  int both = static_cast<int>(std::min(s.removed, s.added));
  for (int k = 0; k < static_cast<int>(s.added); ++k) {
    std::string_view line;
    (void)TakeLine(payload, line);  // checked above
    Status put = k < both || s.kind == 'W' ? doc.SetLine(at + k, line) : doc.OpenLine(at + k, line);
    if (!put.ok()) return put;
  }
  for (std::uint32_t k = s.added; k < s.removed && at + both < lines; ++k) doc.RemoveLine(at + both);
  // Lines that fell out of the grid during the change do not come back.
  for (int i = static_cast<int>(s.blank); i < lines && i < doc.extent(); ++i) doc.Truncate(i, 0);
  return 0;
}
