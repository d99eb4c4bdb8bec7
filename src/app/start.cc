// Start-up: the command line, the banner, the settings file, the grid and its buffers, and
// the first file. The loop (app/loop.cc) runs from there.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/editor.h"
#include "app/file_commands.h"
#include "app/loop.h"
#include "app/messages.h"
#include "app/navigation.h"
#include "app/rescue.h"
#include "app/session_journal.h"
#include "settings/rc.h"
#include "term/caret.h"

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
  if (!ed.doc.Allocate(size.lines, size.lsize).ok()) return false;
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

// Why a settings file is ignored, as the message says it.
const char* DistrustReason(Distrust reason) {
  switch (reason) {
    case Distrust::kNone:
    case Distrust::kNotRegular:
      break;
    case Distrust::kTooLarge:
      return msg::kRcTooLarge;
    case Distrust::kForeignOwner:
      return msg::kRcForeignOwner;
    case Distrust::kWritableByOthers:
      return msg::kRcWritableByOthers;
    case Distrust::kWritableByGroup:
      return msg::kRcWritableByGroup;
    case Distrust::kFolderWritable:
      return msg::kRcFolderWritable;
  }
  return msg::kRcNotRegular;
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
  Print(io, msg::kIgnoringRc, name.c_str(), DistrustReason(outcome.reason));
}

}  // namespace

bool AllocateBuffers(Editor& ed, GridSize size) {
  if (AllocateAll(ed, size)) return true;
  // Only a smaller grid is worth a second try.
  if (size.lines <= kDefaultGrid.lines && size.lsize <= kDefaultGrid.lsize) {
    Line(ed.io, msg::kNoMemoryToGoOn);
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
  if (std::strlen(name) >= kNameSize) return Line(ed.io, msg::kNameTooLong);
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

bool StartEditor(Editor& ed, int argc, const char* const* argv) {
  if (Guarded(ed, [&] { return Start(ed, argc, argv); })) return true;
  JournalEnd(ed);
  return false;
}
