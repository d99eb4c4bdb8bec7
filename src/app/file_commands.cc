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
#include "doc/load.h"
#include "doc/save.h"
#include "doc/save_names.h"
#include "doc/stamp.h"
#include "doc/target.h"
#include "settings/rc.h"
#include "term/caret.h"

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
