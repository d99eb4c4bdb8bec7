#include "app/loop.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/commands.h"
#include "app/edit_commands.h"
#include "app/editor.h"
#include "app/file_commands.h"
#include "app/messages.h"
#include "app/navigation.h"
#include "app/reads.h"
#include "app/session_journal.h"
#include "app/view.h"
#include "core/signals.h"
#include "doc/save.h"
#include "settings/rc.h"
#include "term/caret.h"
#include "term/line_editor.h"

const char* const kUsage =
    "Usage: morvax [FILE]\n"
    "       morvax [+LINE[,COLUMN]] [--] FILE\n"
    "       morvax --help | --version\n"
    "\n"
    "Edit FILE, or a new document, line by line on standard input and output.\n"
    "+LINE starts the cursor on line LINE of FILE, +LINE,COLUMN also at column\n"
    "COLUMN (1 to 7 digits each); a line or column outside the grid is ignored.\n"
    "Before every read Morvax shows the lines up to the cursor line. A line that is\n"
    "exactly a command key runs that command; any other line is written over the\n"
    "document at the cursor, and the cursor moves to the next line. A line that\n"
    "begins with '!' writes the rest of the line as text. With the default keys 'h'\n"
    "shows every command and 'q' quits. Keys and limits come from .morvax_rc in the\n"
    "working directory, or from the file that MORVAX_RC names when it is set and\n"
    "not empty; the file is created with the defaults when it is missing.\n"
    "\n"
    "Exit status: 0; 1 when the last save failed, the output cannot be written, a\n"
    "partial load at start-up is declined, or memory runs out;\n"
    "128 + N when signal N ends the program (unsaved text goes to morvax.hup).\n";

namespace {

[[nodiscard]] bool TakeEndingSignal(Editor& ed);

// What the command line asks for: the document, and the line and column (from 1; 0 when not
// asked) where the cursor starts.
struct Arguments {
  const char* name = nullptr;
  int line = 0;
  int column = 0;
};

// 1 to 7 digits at the front of `text` into `value`: what follows them, or nullptr.
const char* Digits(const char* text, int& value) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  int n = 0;
  for (value = 0; n < 7 && digit(text[n]); ++n) value = value * 10 + (text[n] - '0');
  return n == 0 || digit(text[n]) ? nullptr : text + n;
}

// "+LINE" or "+LINE,COLUMN", as other programs call an editor.
bool IsPlace(const char* text, Arguments& args) {
  if (text[0] != '+') return false;
  const char* rest = Digits(text + 1, args.line);
  if (rest != nullptr && *rest == ',') rest = Digits(rest + 1, args.column);
  return rest != nullptr && *rest == '\0';
}

// The document named from argument `i` on: "--" lets a name begin with a dash.
const char* NameAt(int i, int argc, const char* const* argv) {
  if (i >= argc) return nullptr;
  if (std::strcmp(argv[i], "--") == 0) return i + 1 < argc ? argv[i + 1] : nullptr;
  return argv[i];
}

// A first argument "+LINE[,COLUMN]" counts only when a name follows it; else it is the name.
Arguments TakeArguments(int argc, const char* const* argv) {
  Arguments args;
  if (argc > 2 && IsPlace(argv[1], args)) {
    args.name = NameAt(2, argc, argv);
    if (args.name != nullptr) return args;
  }
  return {NameAt(1, argc, argv)};
}

// The grid, its line-sized work buffers and the rescue's room: all of them, or none.
[[nodiscard]] bool AllocateAll(Editor& ed, GridSize size) {
  if (ed.doc.Allocate(size.lines, size.lsize) != 0) return false;
  // The new grid is the empty document, as saved (allocating counts as a change).
  ed.MarkSaved();
  // Zeroed: every buffer starts as the empty string. From malloc, as everything start-up has.
  auto buffer = [](int n) { return ZeroedBytes(static_cast<std::size_t>(n)); };
  int lsize = ed.lsize();
  ed.clip = buffer(lsize);
  ed.command_input = buffer(ed.command_input_size());
  ed.insert_input = buffer(lsize);
  ed.jump_string = buffer(lsize);
  ed.undo.first = buffer(lsize);
  ed.undo.second = buffer(lsize);
  ed.rescue_room.reset(static_cast<char*>(std::malloc(kRescueRoom)));
  if (ed.clip && ed.command_input && ed.insert_input && ed.jump_string && ed.undo.first &&
      ed.undo.second && ed.rescue_room) {
    return true;
  }
  ed.doc.Free();
  ed.MarkSaved();  // no grid: nothing to rescue
  return false;
}

// What became of the settings file, as start-up reports it.
void ReportSettingsFile(Io& io, const char* rc_name, RcOutcome outcome) {
  Shown name(io, rc_name);
  switch (outcome.result) {
    case RcResult::kRead:
      Print(io, msg::kReadingRc, name.c_str());
      return;
    case RcResult::kMade:
      Print(io, msg::kMakingRc, name.c_str());
      return;
    case RcResult::kNotMade:
      Print(io, msg::kMakingRc, name.c_str());
      Line(io, msg::kCannotMakeRc);
      return;
    case RcResult::kUnreadable:
      Print(io, msg::kCannotReadRc, name.c_str());
      return;
    case RcResult::kIgnored:
      break;
  }
  const char* reason = msg::kRcNotRegular;
  switch (outcome.reason) {
    case Distrust::kNone:
    case Distrust::kNotRegular:
      break;
    case Distrust::kTooLarge:
      reason = msg::kRcTooLarge;
      break;
    case Distrust::kForeignOwner:
      reason = msg::kRcForeignOwner;
      break;
    case Distrust::kWritableByOthers:
      reason = msg::kRcWritableByOthers;
      break;
    case Distrust::kWritableByGroup:
      reason = msg::kRcWritableByGroup;
      break;
    case Distrust::kFolderWritable:
      reason = msg::kRcFolderWritable;
      break;
  }
  Print(io, msg::kIgnoringRc, name.c_str(), reason);
}

}  // namespace

bool AllocateBuffers(Editor& ed, GridSize size) {
  if (AllocateAll(ed, size)) return true;
  // Only a smaller grid is worth a second try.
  if (size.lines <= kDefaultGrid.lines && size.lsize <= kDefaultGrid.lsize) {
    Print(ed.io, "%s", msg::kNoMemoryToGoOn);
    return false;
  }
  Print(ed.io, msg::kGridTooLarge, size.lines, size.lsize - 1, kDefaultGrid.lines,
        kDefaultGrid.lsize - 1);
  if (ed.anchor >= kDefaultGrid.lsize - 1) ed.anchor = 0;
  if (AllocateAll(ed, kDefaultGrid)) return true;
  Print(ed.io, msg::kNoMemory, kDefaultGrid.lines, kDefaultGrid.lsize - 1);
  return false;
}

namespace {

// Keys, the settings file and what it starts with; the grid's size goes to `size`.
void TakeSettings(Editor& ed, GridSize& size) {
  ed.current_name[0] = ed.launch_command[0] = '\0';
  MakeKeys(ed.keys);
  SetDefaultValues(ed.keys);
  StartValues start;
  const char* rc_name = RcName();
  ReportSettingsFile(ed.io, rc_name, ReadRC(rc_name, ed.keys, size, start));
  ed.anchor = start.anchor;
  ed.page_length = start.page_length;
  ed.show_numbers = start.show_numbers;
  std::memcpy(ed.launch_command, start.launch_command, kNameSize);
  ed.launch_from_rc = ed.launch_command[0] != '\0';
  ed.rc_path = start.rc_path;
  Print(ed.io, msg::kHint, Shown(ed.io, ed.keys[kHelp].value).c_str(),
        Shown(ed.io, ed.keys[kQuit].value).c_str());
}

// Loads the file named on the command line, which becomes the current file.
void LoadFirstFile(Editor& ed, const char* name) {
  if (std::strlen(name) >= kNameSize) return Print(ed.io, "%s", msg::kNameTooLong);
  std::strcpy(ed.current_name, name);
  Loaded loaded = LoadFile(ed, name);
  switch (loaded) {
    case Loaded::kReplaced:
    case Loaded::kNotFound:
      break;
    case Loaded::kUnreadable:
    case Loaded::kInterrupted:
      // Never the target of a save unless the user types its name.
      ed.current_name[0] = '\0';
      break;
    case Loaded::kDeclined:
    case Loaded::kInputEnded:
      // A signal at the question ends the program as that signal.
      if (TakeEndingSignal(ed)) break;
      // The input ended at the question: end the output's last line, as every end does.
      if (loaded == Loaded::kInputEnded) Print(ed.io, "\n");
      ed.Stop(1);
      break;
  }
}

[[nodiscard]] bool Start(Editor& ed, int argc, const char* const* argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--help") == 0) {
    Print(ed.io, "%s", kUsage);
    ed.Stop(0);
    return false;
  }
  Print(ed.io, msg::kBanner, MORVAX_VERSION);
  if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
    ed.Stop(0);
    return false;
  }
  GridSize size;
  TakeSettings(ed, size);
  AnnounceRecoveryFiles(ed);
  ReplayJournals(ed);
  if (!AllocateBuffers(ed, size)) {
    // A signal that came meanwhile ends it as that signal, as it would at the first read.
    if (!TakeEndingSignal(ed)) ed.Stop(1);
    return false;
  }
  Arguments args = TakeArguments(argc, argv);
  if (args.name != nullptr) LoadFirstFile(ed, args.name);
  ed.cursor = {};
  MoveToLine(ed, args.line);
  MoveToColumn(ed, args.column);
  ed.line_lock = 0;
  ForgetUndo(ed.undo);
  JournalStarted(ed);
  return ed.running;
}

}  // namespace

void Quit(Editor& ed) {
  Line(ed.io, msg::kQuitConfirm);
  char* answer = ed.command_input.get();
  Read read = ReadLine(ed, answer, ed.command_input_size());
  // Only an end of input for good ends the program here; Ctrl-D at a terminal leaves the quit.
  if (read == Read::kEnd) {
    Print(ed.io, "\n");
    ed.Finish();
  } else if (IsYes(read, answer, "q\n")) {
    ed.Finish();
  }
}

namespace {

// A terminating signal, or SIGINT where the input is no terminal, ends the session: the unsaved
// document goes to a recovery file first. True when the session ended.
[[nodiscard]] bool TakeEndingSignal(Editor& ed) {
  if (!EndingSignalPending(ed.io.terminal)) return false;
  WriteRecovery(ed);
  ed.Stop(128 + PendingSignal());
  return true;
}

// The read at the command prompt gave no line (`read`). False when the session ends here.
[[nodiscard]] bool CommandReadFailed(Editor& ed, Read read) {
  if (TakeEndingSignal(ed)) return false;
  if (read == Read::kOutputFailed) {
    WriteRecovery(ed);
    ed.Stop(1);
    return false;
  }
  if (!IsEnd(read)) return true;  // interrupted at the terminal: the view again
  if (ed.io.terminal && ed.modified() && !ed.end_warned) {
    Print(ed.io, "%s", msg::kUnsavedAtEnd);
    ed.end_warned = true;
    return true;
  }
  Print(ed.io, "\n");
  ed.Finish();
  return false;
}

// The view before the command read. Without `with_prompt`: printed again above the line
// editor's prompt after a suspend.
void ShowView(Editor& ed, bool with_prompt) {
  Display(ed.cursor, ed.page_length - 1, ed.doc, ed.show_numbers, ed.current_name, ed.io,
          with_prompt);
}

[[nodiscard]] bool Turn(Editor& ed) {
  if (!ed.running || TakeEndingSignal(ed)) return false;
  NewTurn(ed.io);
  ShowView(ed, true);

  char* input = ed.command_input.get();
  Read read = ReadLine(ed, input, ed.command_input_size(), Asks::kCommand);
  if (!IsLine(read)) return CommandReadFailed(ed, read);
  ed.end_warned = false;
  // A line that lost characters is text, however it begins; so is a line cut at a NUL byte,
  // and a pasted line, even an empty one, which keeps its "!".
  bool shortened = IsCut(read);
  bool pasted = IsPasted(read);
  bool text = shortened || pasted || HeldNul(read);
  if (!text && std::strcmp(input, "\n") == 0 && ed.cursor.line < ed.lines() - 1) {
    ++ed.cursor.line;
    return true;
  }
  StripLineEnd(input);

  int id = text ? -1 : FindCommand(ed.keys, input);
  // Every change gets its own memory, whole or not at all; asking ahead refuses a command whose
  // change would find none before it asks anything.
  if (ChangesDocument(id) && ed.doc.Reserve(ed.cursor.line + 1) != 0) {
    Print(ed.io, "%s", msg::kNoMemoryForChange);
    return ed.running && !TakeEndingSignal(ed);
  }
  if (id >= 0) {
    kCommands[id].handler(ed);
  } else {
    // "!" turns the rest of the line into text; "!" alone is the empty text.
    if (input[0] == '!' && !pasted) std::memmove(input, input + 1, std::strlen(input));
    TextEntry(ed, input, shortened);
  }
  JournalChanges(ed);
  return ed.running && !TakeEndingSignal(ed);
}

// Runs a step of the session: start-up or a turn. Memory refused where no change reserved it
// (a std::bad_alloc, or a std::length_error for a size past all memory: the only exceptions
// the library throws here; any other is taken the same way) ends the session as a terminating
// signal does, with the recovery file, and status 1. No exception goes further.
// A terminating signal that came meanwhile ends the session as that signal, as it would have
// without the shortage. The rescue allocates nothing, so it works however little memory is
// left; when it fails, standard error says so too.
template <typename Step>
[[nodiscard]] bool Guarded(Editor& ed, Step step) {
  try {
    return step();
  } catch (...) {
  }
  try {
    ed.io.keep_question = false;  // what the rescue prints is not kept: that would allocate
    if (TakeEndingSignal(ed)) return false;
    Print(ed.io, "%s", msg::kNoMemoryToGoOn);
    WriteRecovery(ed, true);
  } catch (...) {
    // Nothing in the rescue throws; should it, the session still ends as said.
  }
  ed.Stop(1);
  return false;
}

// Line editing, when both streams are terminals; a step of it that fails leaves it off.
[[nodiscard]] bool OpenLineEditor(Editor& ed, int out_fd) {
  if (!ed.io.terminal || !ed.io.out_terminal) return true;
  const char* failed = nullptr;
  std::unique_ptr<LineEditor> editor = LineEditor::Open(
      ed.io.in, ed.io.out, out_fd,
      [&ed](Asks asks) {
        if (asks == Asks::kCommand) return ShowView(ed, false);
        std::fputs(ed.io.question.c_str(), ed.io.out);
      },
      failed);
  // A stop may last: the journal is on disk before it.
  if (editor) editor->BeforeStop([&ed] { JournalFlush(ed); });
  ed.line_editor = std::move(editor);
  ed.io.editor = ed.line_editor.get();
  if (failed != nullptr) EditingOff(ed, failed);
  return true;
}

}  // namespace

bool StartEditor(Editor& ed, int argc, const char* const* argv) {
  if (Guarded(ed, [&] { return Start(ed, argc, argv); })) return true;
  JournalEnd(ed);
  return false;
}

bool RunTurn(Editor& ed) {
  if (Guarded(ed, [&] { return Turn(ed); })) return true;
  JournalEnd(ed);
  return false;
}

int RunEditor(int argc, const char* const* argv, Io io, Options options) {
  io.terminal = isatty(fileno(io.in)) == 1;
  io.out_terminal = isatty(fileno(io.out)) == 1;
  io.err_terminal = isatty(fileno(io.err)) == 1;
  // Taken now for either terminal: the rescue may tell on standard error when memory is out.
  if (io.out_terminal || io.err_terminal) io.utf8 = UserCharsetIsUtf8();
  // Both outputs go on after a signal (core/io.h). The line editor writes through them too,
  // so they outlive it.
  int out_fd = fileno(io.out);
  RetryingStream out(out_fd, io.terminal);
  RetryingStream err(fileno(io.err), io.terminal);
  if (out.get() == nullptr || err.get() == nullptr) {
    // Before any input is read; the C library's own stream writes unbuffered without memory.
    std::fputs(msg::kNoMemoryToGoOn, io.out);
    std::fflush(io.out);
    return 1;
  }
  io.out = out.get();
  io.err = err.get();
  Editor ed;
  ed.io = std::move(io);
  ed.options = std::move(options);
  InstallSignalHandlers();
  if (Guarded(ed, [&] { return OpenLineEditor(ed, out_fd); }) && StartEditor(ed, argc, argv)) {
    while (RunTurn(ed)) {
    }
  }
  std::fflush(ed.io.out);
  return ed.exit_status;
}
