// The load of a file into the document, and what earlier sessions left of it: the leftovers of
// its saves, and the recovery files in the working folder.
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

#include "app/editor.h"
#include "app/messages.h"
#include "app/reads.h"
#include "app/session_journal.h"
#include "doc/leftovers.h"
#include "doc/load.h"
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

void AnnounceRecoveryFiles(Editor& ed) {
  SayFirstFive(ed, FindRecoveryFiles(kRecoveryBase), [&](const std::string& file) {
    Print(ed.io, msg::kEarlierRecovery, Shown(ed.io, file.c_str()).c_str());
  });
}
