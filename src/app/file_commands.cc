#include "app/file_commands.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/disk_questions.h"
#include "app/editor.h"
#include "app/messages.h"
#include "app/reads.h"
#include "app/session_journal.h"
#include "doc/leftovers.h"
#include "doc/load.h"
#include "doc/save.h"
#include "doc/save_names.h"
#include "doc/stamp.h"
#include "doc/target.h"
#include "settings/rc.h"
#include "term/caret.h"

namespace {

// "WARNING!  Line %i is being split" for every line that ended because it was too long, then
// the number of lines. The text is walked again only when there are splits to tell.
void ReportLines(Editor& ed, std::string_view text, const LineCount& count) {
  if (count.splits > 0) {
    WalkLines(text, ed.lines(), ed.lsize(), [&ed](int index, std::size_t, std::size_t, bool split) {
      if (split) Print(ed.io, msg::kLineSplit, index + 1);
    });
  }
  Print(ed.io, msg::kLinesGenerated, count.lines);
}

// The partial-load question, with the loaded share in percent: kReplaced only for the answer
// "Y"; kInputEnded when the input ended at it, else kDeclined (nothing more is printed).
Loaded AskPartialLoad(Editor& ed, float percent) {
  StartQuestion(ed.io);  // without the load's messages above it
  Print(ed.io, msg::kPartialLoad, static_cast<double>(percent));
  Line(ed.io, msg::kPartialLoad2);
  Line(ed.io, msg::kPartialLoad3);
  Print(ed.io, msg::kPartialLoad4, Shown(ed.io, RcName()).c_str());
  char answer[16];
  Read read = ReadLine(ed, answer, sizeof answer);
  if (IsEnd(read)) return Loaded::kInputEnded;
  return IsYes(read, answer, "Y\n") ? Loaded::kReplaced : Loaded::kDeclined;
}

}  // namespace

Loaded PlaceLines(Editor& ed, std::string_view bytes, Document::Incoming& incoming,
                  const LineCount& count, Block& block) {
  ReportLines(ed, bytes.substr(0, UncutLength(bytes)), count);
  if (std::optional<float> percent = PartialShare(bytes, count)) {
    if (Loaded answer = AskPartialLoad(ed, *percent); answer != Loaded::kReplaced) return answer;
  }
  ed.doc.Adopt(incoming, block, bytes.size());
  return Loaded::kReplaced;
}

namespace {

// A load given up for a signal. Ctrl-C at a terminal only stops the load; any other signal is
// taken by the loop once the command is over.
Loaded Interrupted(Editor& ed) {
  TakeInterrupt(ed);
  return Loaded::kInterrupted;
}

// What a load that read nothing says: the name missing (and where a dangling link at it
// leads, stamped as missing so that a file made there later is asked about), a link refused,
// or why the file could not be read.
Loaded NotRead(Editor& ed, const char* name, Target& target, Status found, Status opened) {
  if (opened.err == EINTR) return Interrupted(ed);
  Shown shown(ed.io, name);
  if (target.refused) {
    Print(ed.io, msg::kCouldNotRead, shown.c_str(), msg::kRefusedLink);
    return Loaded::kUnreadable;
  }
  if (opened.err != ENOENT && opened.err != ENOTDIR) {
    Print(ed.io, msg::kCouldNotRead, shown.c_str(), std::strerror(opened.err));
    return Loaded::kUnreadable;
  }
  Print(ed.io, msg::kFileNotFound, shown.c_str());
  if (target.entry && target.through_link) {
    std::string there = target.Absolute().empty() ? target.Path() : target.Absolute();
    Print(ed.io, msg::kIsLinkTo, shown.c_str(), Shown(ed.io, there.c_str()).c_str());
  }
  TakeStamp(ed.stamp, name, target, found);
  return Loaded::kNotFound;
}

// Reads the open file `fd` whole and finds its lines; ENOMEM when memory for them is refused.
Status ReadLines(Editor& ed, int fd, Block& block, std::size_t& size, Document::Incoming& incoming,
                 LineCount& count) {
  Status read = ReadAll(fd, block, size);
  if (!read.ok()) return read;
  std::string_view bytes(block.get(), size);
  return PrepareLines(bytes.substr(0, UncutLength(bytes)), ed.lines(), ed.lsize(), incoming, count);
}

// Loads `name`, reached through the walk a save takes (`target`), or as the kernel resolves it
// for the names only it can.
Loaded ReadFileIn(Editor& ed, const char* name, Target& target) {
  Fd kernel;
  bool walked = !KernelResolved(name);
  Status found = walked ? ResolveToRead(name, target) : OpenToRead(name, kernel);
  Status opened = found.ok() && walked && !target.exists ? Status(ENOENT) : found;
  if (!opened.ok()) return NotRead(ed, name, target, found, opened);
  Block block(nullptr, &std::free);
  std::size_t size = 0;
  Document::Incoming incoming;
  LineCount count;
  // The lines are found before anything is printed, so that a want of memory for them is
  // reported as the read's failure.
  Status read =
      ReadLines(ed, walked ? target.file.get() : kernel.get(), block, size, incoming, count);
  if (read.err == EINTR) return Interrupted(ed);
  if (!read.ok()) {
    Print(ed.io, msg::kCouldNotRead, Shown(ed.io, name).c_str(), std::strerror(read.err));
    return Loaded::kUnreadable;
  }
  Print(ed.io, msg::kOpened, Shown(ed.io, name).c_str());
  Print(ed.io, msg::kReadBytes, static_cast<int>(size));
  std::string_view bytes(block.get(), size);
  if (Loaded placed = PlaceLines(ed, bytes, incoming, count, block); placed != Loaded::kReplaced) {
    return placed;
  }
  // A new document: nothing to undo, nothing unsaved, and the file as it was read, held.
  ForgetUndo(ed.undo);
  ed.MarkSaved();
  // Before the stamp, which takes the file over.
  JournalLoaded(ed, name, walked ? target.file.get() : kernel.get(), bytes);
  ed.stamp = FileStamp{};
  if (walked) TakeStamp(ed.stamp, name, target, found);
  ed.split_source.reset();
  if (count.splits > 0) ed.split_source = ed.stamp;
  return Loaded::kReplaced;
}

// Says `say(file)` for each of the first five of `found`, then how many more there are.
template <typename Say>
void SayFirstFive(Editor& ed, const std::vector<std::string>& found, Say say) {
  constexpr std::size_t kNamed = 5;
  for (std::size_t i = 0; i < found.size() && i < kNamed; ++i) say(found[i]);
  if (found.size() > kNamed) {
    Print(ed.io, msg::kMoreRecovery, static_cast<int>(found.size() - kNamed));
  }
}

}  // namespace

Loaded LoadFile(Editor& ed, const char* name) {
  Target target;
  Loaded loaded = ReadFileIn(ed, name, target);
  if (loaded == Loaded::kInterrupted) return loaded;
  SayFirstFive(ed, FindLeftovers(name, target), [&](const std::string& leftover) {
    Print(ed.io, msg::kEarlierSaveLeft, Shown(ed.io, name).c_str(),
          Shown(ed.io, leftover.c_str()).c_str());
  });
  return loaded;
}

namespace {

// Reads a file name into `name` (kNameSize bytes). A read that gives no name abandons the
// command; a cut line is a name that does not fit (said here, and `name` is emptied), and a
// name holding a NUL byte is refused (said by the read).
Read ReadName(Editor& ed, char* name) {
  Read read = ReadAnswer(ed, name, kNameSize, Asks::kFileName);
  if (HeldNul(read)) name[0] = '\0';
  if (IsCut(read)) {
    name[0] = '\0';
    Line(ed.io, msg::kNameTooLong);
  }
  return read;
}

// A read that gave a whole name.
bool Named(Read read) {
  return IsLine(read) && !IsCut(read) && !HeldNul(read);
}

// The questions before an `open`: false when there is nothing to open, else the name to open
// in `name` (kNameSize bytes).
[[nodiscard]] bool OpenDialogue(Editor& ed, char* name) {
  Line(ed.io, msg::kOpenPrompt1);
  Line(ed.io, msg::kOpenPrompt2);
  Line(ed.io, msg::kOpenPrompt3);
  if (!Named(ReadName(ed, name)) || std::strcmp(name, "x") == 0) return false;
  if (std::strcmp(name, "s") == 0) {
    // An unsaved document is never discarded by a save that did not happen.
    if (Save(ed) != Saved::kWritten) return false;
    // At this prompt "x" and "s" are names like any other.
    StartQuestion(ed.io);  // without the save's messages above it
    Line(ed.io, msg::kOpenNext);
    if (!Named(ReadName(ed, name))) return false;
  }
  return true;
}

// A name and where it leads: found once, before the save's first question, and kept to its end.
struct Found {
  Target target;
  Status found;

  void Find(const char* name) {
    target = Target{};
    found = Resolve(name, target);
  }
};

// A change on disk while the session found editing the file at its load still runs is asked
// about as that session's save.
[[nodiscard]] bool OtherSessionsSaveAccepted(Editor& ed, DiskChange& change, const char* name) {
  int other = OtherSessionRunning(ed);
  if (other == 0 || (change != DiskChange::kChanged && change != DiskChange::kReplaced)) {
    return true;
  }
  Print(ed.io, msg::kSavedByOtherSession, Shown(ed.io, name).c_str(), other);
  change = DiskChange::kNone;  // asked
  return AnsweredYes(ed);
}

// Says why a save failed (`removed`: the target's folder is gone).
void SayFailed(Editor& ed, const char* name, const SaveResult& result, bool removed) {
  Shown shown(ed.io, name);
  switch (result.outcome) {
    case SaveOutcome::kTargetChanged:
      Print(ed.io, msg::kChangedWhileSaving, shown.c_str());
      return;
    case SaveOutcome::kImmutable:
      Print(ed.io, msg::kCouldNotSave, shown.c_str(), msg::kMarkedImmutable);
      return;
    case SaveOutcome::kAppendOnly:
      Print(ed.io, msg::kCouldNotSave, shown.c_str(), msg::kMarkedAppendOnly);
      return;
    case SaveOutcome::kFolderImmutable:
      Print(ed.io, msg::kCouldNotSave, shown.c_str(), msg::kFolderMarkedImmutable);
      return;
    case SaveOutcome::kFolderAppendOnly:
      Print(ed.io, msg::kCouldNotSave, shown.c_str(), msg::kFolderMarkedAppendOnly);
      return;
    case SaveOutcome::kSaved:
    case SaveOutcome::kFailed:
      break;
  }
  // A backup that still holds the old content is named.
  if (!result.kept.empty()) {
    Print(ed.io, msg::kCouldNotSaveKept, shown.c_str(), std::strerror(result.err),
          Shown(ed.io, result.kept.c_str()).c_str());
    return;
  }
  Print(ed.io, msg::kCouldNotSave, shown.c_str(),
        removed ? msg::kFolderRemoved : std::strerror(result.err));
  // A save into a FIFO or device that Ctrl-C stopped: said at once, not at the next read.
  if (result.err == EINTR) TakeInterrupt(ed);
}

// Writes the document to `name`, which becomes the current file name, through what the name
// was found to lead to, after asking when another program changed that file or the name leads
// elsewhere since this session read or wrote it, unless the user has just said to overwrite it
// (`confirmed`).
Saved SaveTo(Editor& ed, const char* name, Found& named, bool confirmed) {
  if (ed.current_name != name) std::strcpy(ed.current_name, name);
  Target& target = named.target;
  DiskChange change =
      confirmed ? DiskChange::kNone : ChangedSince(ed.stamp, name, target, named.found);
  if (!OtherSessionsSaveAccepted(ed, change, name) || !ChangeAccepted(ed, change, name, target) ||
      !LinkAccepted(ed, name, target, named.found)) {
    return Saved::kAbandoned;
  }
  // The bytes are made as they are written: no image of the whole file is held.
  // The rescue's room serves the save when memory is short: the two never run at once.
  Pieces pieces = DocumentPieces(ed.doc, nullptr, ed.rescue_room.get());
  SaveResult result = named.found.ok() ? WriteFileSafely(target, pieces, ed.options.fs)
                                       : SaveResult{SaveOutcome::kFailed, named.found.err, {}};
  ed.save_failed = !result.saved();
  if (!result.saved()) {
    SayFailed(ed, name, result, FolderRemoved(target));
    return Saved::kFailed;
  }
  Print(ed.io, msg::kSaved, Shown(ed.io, name).c_str());
  if (!result.kept.empty()) {
    Print(ed.io, msg::kCouldNotRemoveBackup, Shown(ed.io, result.kept.c_str()).c_str(),
          std::strerror(result.err));
  }
  ed.MarkSaved();
  TakeStamp(ed.stamp, name, target, named.found);
  JournalSaved(ed, name);
  return Saved::kWritten;
}

// Lines split at the load because they were too long are written back over the file they came
// from (`named` leads there, whatever its spelling) only after a typed "y", which holds until
// the next load.
[[nodiscard]] bool SplitAccepted(Editor& ed, const char* name, const Found& named) {
  if (!ed.split_source || !LeadsTo(*ed.split_source, named.target, named.found)) return true;
  Print(ed.io, msg::kSplitQuestion, Shown(ed.io, name).c_str(), ed.lsize() - 1);
  if (!AnsweredYes(ed)) return false;
  ed.split_source.reset();
  return true;
}

// Saves to `name` (where it leads in `found`, when given), or, when it is empty, to a name asked
// for until one is given; a name given there that is taken (any entry, a dangling link too) is
// written over only after a typed "y", and the current file name stays as it was otherwise.
// Lines that the load split are asked about next (SplitAccepted).
Saved SaveAsking(Editor& ed, const char* name, Found* found = nullptr) {
  char asked[kNameSize] = "";
  while (name[0] == '\0') {
    Line(ed.io, msg::kSaveNamePrompt);
    if (Read read = ReadName(ed, asked); !Named(read)) {
      // A name too long or holding a NUL byte was said so already.
      if (!IsCut(read) && !HeldNul(read)) Line(ed.io, msg::kNoNameGiven);
      return Saved::kAbandoned;
    }
    name = asked;
  }
  Found named;
  if (found == nullptr || name == asked) {
    found = &named;
    found->Find(name);
  }
  // A name typed here that is taken is asked about, unless the link question asks instead.
  bool confirmed = name == asked && found->target.entry;
  if (confirmed && !ThroughOthersLink(found->target, found->found) &&
      !Confirmed(ed, msg::kOverwriteQuestion, asked)) {
    return Saved::kAbandoned;
  }
  if (!SplitAccepted(ed, name, *found)) return Saved::kAbandoned;
  return SaveTo(ed, name, *found, confirmed);
}

// The `save_prompt` name dialogue: true with the name to save to in `name` (kNameSize bytes)
// and where it leads in `named`, false when the user cancelled or the read failed. A name that
// is taken (any entry, a dangling link too) is asked about.
[[nodiscard]] bool DefineSaveName(Editor& ed, char* name, Found& named) {
  Line(ed.io, msg::kSaveAsPrompt);
  if (!Named(ReadName(ed, name)) || std::strcmp(name, "x") == 0) return false;
  named.Find(name);
  if (!named.target.entry) return true;

  Line(ed.io, msg::kFileExists);
  Line(ed.io, msg::kNewNameOrOverwrite);
  char answer[kNameSize];
  Read read = ReadName(ed, answer);
  if (!Named(read)) return false;
  if (IsPasted(read)) answer[0] = '\0';  // never an "o": no name, which is asked for
  if (std::strcmp(answer, "o") == 0) return true;
  // From here on every answer is a name, "x" and "o" included.
  std::strcpy(name, answer);
  for (named.Find(name); named.target.entry; named.Find(name)) {
    Line(ed.io, msg::kFileExistsAgain);
    if (!Named(ReadName(ed, name))) return false;
  }
  return true;
}

}  // namespace

// Leaving the dialogue keeps the current file name: it would point the next save at another
// file. So does a file that could not be read or a declined partial load.
void OpenCommand(Editor& ed) {
  char name[kNameSize];
  if (!OpenDialogue(ed, name)) return;
  switch (LoadFile(ed, name)) {
    case Loaded::kReplaced:
    case Loaded::kNotFound:
      std::strcpy(ed.current_name, name);
      break;
    case Loaded::kUnreadable:
    case Loaded::kDeclined:
    case Loaded::kInputEnded:
    case Loaded::kInterrupted:
      break;
  }
}

Saved Save(Editor& ed) {
  return SaveAsking(ed, ed.current_name);
}

void SavePrompt(Editor& ed) {
  char name[kNameSize];
  Found named;
  // It says how the save went.
  if (DefineSaveName(ed, name, named)) (void)SaveAsking(ed, name, &named);
}

void SaveOverwrite(Editor& ed) {
  (void)Save(ed);  // it says how the save went
}

void AnnounceRecoveryFiles(Editor& ed) {
  SayFirstFive(ed, FindRecoveryFiles(kRecoveryBase), [&](const std::string& file) {
    Print(ed.io, msg::kEarlierRecovery, Shown(ed.io, file.c_str()).c_str());
  });
}
