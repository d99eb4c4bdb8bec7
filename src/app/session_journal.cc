#include "app/session_journal.h"

#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "app/editor.h"
#include "app/messages.h"
#include "core/path.h"
#include "doc/load.h"
#include "doc/save.h"
#include "doc/save_names.h"
#include "term/caret.h"

namespace {

// `name` as an absolute path: through its links where it leads to something, else from the
// working folder.
std::string AbsolutePath(const char* name) {
  if (name[0] == '\0') return {};
  char real[PATH_MAX];
  if (realpath(name, real) != nullptr) return real;
  if (name[0] == '/') return name;
  char here[PATH_MAX];
  return getcwd(here, sizeof here) != nullptr ? JoinPath(here, name) : std::string();
}

// The base: a document named `name`, empty or read from a file, nothing journalled against it.
void NewBase(Editor& ed, const char* name) {
  SessionJournal& j = ed.journal;
  j.file.Remove();
  j.stopped = false;
  j.base = JournalHeader{};
  j.base.name = name;
  j.base.path = AbsolutePath(name);
  (void)ed.doc.TakeChange();  // the base itself is no change
}

std::uint64_t ChecksumOf(std::string_view bytes) {
  Checksum sum;
  sum.Add(bytes);
  return sum.Value();
}

std::string Since(std::int64_t when) {
  char text[64] = "";
  std::time_t t = static_cast<std::time_t>(when);
  struct tm local;
  if (localtime_r(&t, &local) != nullptr) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  return text;
}

// Whether the session `pid` of the boot `boot` still runs, as this program.
bool Running(int pid, const std::string& boot) {
  if (pid <= 0 || pid == getpid() || boot != BootId()) return false;
  return kill(pid, 0) == 0 || errno == EPERM;
}

// Tells of the other live sessions with unsaved changes to the file just read.
void TellOtherSessions(Editor& ed) {
  std::string folder = JournalFolder();
  if (folder.empty()) return;
  for (const FoundJournal& found : FindJournals(folder)) {
    const JournalHeader& h = found.header;
    if (!found.live || h.pid == getpid() || !h.SameFile(ed.journal.base)) continue;
    Print(ed.io, msg::kOtherSession, Shown(ed.io, ed.journal.base.name.c_str()).c_str(), h.pid,
          Since(h.since).c_str());
    ed.journal.other_pid = h.pid;
    ed.journal.other_boot = h.boot_id;
  }
}

// Says once that the journal cannot be written, and stops it until the next base.
void Stopped(Editor& ed, int err) {
  SessionJournal& j = ed.journal;
  if (!j.stopped) Print(ed.io, msg::kJournalFailed, std::strerror(err));
  j.stopped = true;
}

// Makes the journal for the first change against the base.
[[nodiscard]] bool Made(Editor& ed) {
  SessionJournal& j = ed.journal;
  std::string folder = JournalFolder();
  if (folder.empty()) {
    Stopped(ed, ENOENT);
    return false;
  }
  JournalHeader header = j.base;
  header.lines = ed.lines();
  header.lsize = ed.lsize();
  header.pid = getpid();
  header.boot_id = BootId();
  header.since = std::time(nullptr);
  j.buffer.clear();
  AppendHeader(j.buffer, header);
  if (Status begun = j.file.Begin(folder, j.buffer); !begun.ok()) {
    Stopped(ed, begun.err);
    return false;
  }
  return true;
}

}  // namespace

void JournalLoaded(Editor& ed, const char* name, int fd, std::string_view bytes) {
  if (!ed.io.terminal) return;
  NewBase(ed, name);
  JournalHeader& base = ed.journal.base;
  base.read = TakeIdentity(fd, nullptr, base);
  base.checksum = ChecksumOf(bytes);
  base.size = bytes.size();
  ed.journal.other_pid = 0;
  TellOtherSessions(ed);
}

void JournalStarted(Editor& ed) {
  if (!ed.io.terminal || ed.journal.base.read) return;
  NewBase(ed, ed.current_name);
}

void JournalSaved(Editor& ed, const char* name) {
  if (!ed.io.terminal) return;
  NewBase(ed, name);
  JournalHeader& base = ed.journal.base;
  base.read = TakeIdentity(-1, base.path.c_str(), base);
  // What the save wrote: the written form of the document as it stands.
  Checksum sum;
  Pieces pieces = DocumentPieces(ed.doc);
  Status walked = pieces.Each([&sum](std::span<const char> piece) {
    sum.Add({piece.data(), piece.size()});
    return Status();
  });
  base.checksum = sum.Value();
  base.size = pieces.size();
  if (!walked.ok()) base.read = false;  // no base to check against: the lines alone count
}

void JournalRescued(Editor& ed) {
  ed.journal.file.Remove();
}

void JournalChanges(Editor& ed) {
  if (!ed.io.terminal) return;
  SessionJournal& j = ed.journal;
  Document::Change change = ed.doc.TakeChange();
  if (!change.any || j.stopped || !ed.modified()) return;
  try {
    if (!j.file.open() && !Made(ed)) return;
    j.buffer.clear();
    AppendChange(j.buffer, ed.doc, change);
    if (Status appended = j.file.Append(j.buffer); !appended.ok()) Stopped(ed, appended.err);
  } catch (...) {
    // No memory for the record: the journal stops, as a full disk stops it.
    Stopped(ed, ENOMEM);
  }
}

void JournalFlush(Editor& ed) {
  if (!ed.io.terminal) return;
  JournalChanges(ed);
  ed.journal.file.Flush();
}

void JournalEnd(Editor& ed) {
  SessionJournal& j = ed.journal;
  if (!j.file.open()) return;
  if (!ed.modified() || j.ended_by_user) {
    j.file.Remove();
  } else {
    JournalFlush(ed);  // the text is nowhere else: the next start replays it
  }
}

int OtherSessionRunning(const Editor& ed) {
  int pid = ed.journal.other_pid;
  return Running(pid, ed.journal.other_boot) ? pid : 0;
}

namespace {

// The base a journal's records apply to, as the header says: the file read again, when it
// still holds the bytes it held. False when it does not (or cannot be read).
[[nodiscard]] bool LoadBase(const JournalHeader& h, Document& doc) {
  if (!h.read) return true;
  Fd fd;
  if (!OpenToRead(h.path.c_str(), fd).ok()) return false;
  Block block(nullptr, &std::free);
  std::size_t size = 0;
  if (!ReadAll(fd.get(), block, size).ok()) return false;
  std::string_view bytes(block.get(), size);
  if (size != h.size || ChecksumOf(bytes) != h.checksum) return false;
  Document::Incoming incoming;
  LineCount count;
  if (!PrepareLines(bytes.substr(0, UncutLength(bytes)), h.lines, h.lsize, incoming, count).ok()) {
    return false;
  }
  doc.Adopt(incoming, block, size);
  return true;
}

// Replays the claimed journal `claimed` into a new recovery file in `state` and announces it.
void Replay(Editor& ed, const std::string& path, ClaimedJournal& claimed,
            const std::string& state) {
  JournalReader reader(claimed.bytes);
  std::string_view payload;
  JournalHeader h;
  if (!reader.Next(payload) || !ReadHeader(payload, h)) return;
  Document doc;
  if (int err = doc.Allocate(h.lines, h.lsize).err; err != 0) {
    Print(ed.io, msg::kJournalNotReplayed, Shown(ed.io, path.c_str()).c_str(), std::strerror(err));
    return;
  }
  bool based = LoadBase(h, doc);
  std::string lines;  // without the base: every line the records carried, in order
  bool whole = true;
  while (reader.Next(payload)) {
    if (based) {
      if (!ApplyRecord(payload, doc).ok()) {
        whole = false;
        break;
      }
    } else if (!EachLineOf(payload, [&](std::string_view line) { (lines += line) += '\n'; })) {
      whole = false;
      break;
    }
  }
  std::size_t left = reader.left() + (whole ? 0 : payload.size() + 8);
  char written[PATH_MAX + 16];
  Status made = based ? WriteNewFile(state.c_str(), kRecoveryBase, DocumentPieces(doc), written)
                      : WriteNewFile(state.c_str(), kRecoveryBase, lines, written);
  if (!made.ok()) {
    Print(ed.io, msg::kJournalNotReplayed, Shown(ed.io, path.c_str()).c_str(),
          std::strerror(made.err));
    return;
  }
  // The recovery file is whole and flushed: only now does the journal go.
  unlink(path.c_str());
  Print(ed.io, msg::kEarlierRecovery, Shown(ed.io, written).c_str());
  if (!based) Print(ed.io, msg::kJournalBaseChanged, Shown(ed.io, h.path.c_str()).c_str());
  if (left > 0) Print(ed.io, msg::kJournalCut, left);
}

}  // namespace

void ReplayJournals(Editor& ed) {
  if (!ed.io.terminal) return;
  std::string folder = JournalFolder();
  if (folder.empty()) return;
  std::string state = FolderOf(folder);
  for (const FoundJournal& found : FindJournals(folder)) {
    if (found.live) continue;
    ClaimedJournal claimed;
    if (!ClaimJournal(found.path, claimed).ok()) continue;
    Replay(ed, found.path, claimed, state);
  }
}
