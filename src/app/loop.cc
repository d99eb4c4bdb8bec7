#include "app/loop.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "app/commands.h"
#include "app/edit_commands.h"
#include "app/editor.h"
#include "app/file_commands.h"
#include "core/messages.h"
#include "core/view.h"
#include "settings/rc.h"

const char* const kUsage =
    "Usage: morvax [FILE]\n"
    "       morvax -- FILE\n"
    "       morvax --help | --version\n"
    "\n"
    "Edit FILE, or a new document, line by line on standard input and output.\n"
    "Before every read Morvax shows the lines up to the cursor line. A line that is\n"
    "exactly a command key runs that command; any other line is written over the\n"
    "document at the cursor, and the cursor moves to the next line. '!' before a key\n"
    "writes the key as text. With the default keys 'h' shows every command and 'q'\n"
    "quits. Keys and limits come from .morvax_rc in the working directory, which is\n"
    "created with the defaults when it is missing.\n"
    "\n"
    "Exit status: 0; 1 when a partial load is declined, a file cannot be parsed,\n"
    "or there is no memory for the grid.\n";

namespace {

// The document named on the command line: "--" lets a name begin with a dash.
const char* FileArgument(int argc, const char* const* argv) {
  if (argc < 2) return nullptr;
  if (std::strcmp(argv[1], "--") == 0) return argc > 2 ? argv[2] : nullptr;
  return argv[1];
}

}  // namespace

bool AllocateBuffers(Editor& ed, GridSize size) {
  if (!ed.doc.Allocate(size.lines, size.lsize)) {
    Print(ed.io, msg::kGridTooLarge, size.lines, size.lsize - 1, kDefaultGrid.lines,
          kDefaultGrid.lsize - 1);
    if (ed.anchor >= kDefaultGrid.lsize - 1) ed.anchor = 0;
    if (!ed.doc.Allocate(kDefaultGrid.lines, kDefaultGrid.lsize)) {
      Print(ed.io, msg::kNoMemory, kDefaultGrid.lines, kDefaultGrid.lsize - 1);
      return false;
    }
  }
  int lsize = ed.lsize();
  // make_unique<char[]> value-initialises: every buffer starts as the empty string.
  auto buffer = [](int size) { return std::make_unique<char[]>(static_cast<std::size_t>(size)); };
  ed.clip = buffer(lsize);
  ed.command_input = buffer(ed.command_input_size());
  ed.insert_input = buffer(lsize);
  ed.jump_string = buffer(lsize);
  ed.undo.first = buffer(lsize);
  ed.undo.second = buffer(lsize);
  return true;
}

bool StartEditor(Editor& ed, int argc, const char* const* argv) {
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

  ed.current_name[0] = ed.launch_command[0] = '\0';
  MakeKeys(ed.keys);
  SetDefaultValues(ed.keys);

  GridSize size;
  StartValues start;
  ReadRC(ed.io, ed.keys, size, start);
  ed.anchor = start.anchor;
  ed.page_length = start.page_length;
  ed.show_numbers = start.show_numbers;
  std::memcpy(ed.launch_command, start.launch_command, kNameSize);
  ed.launch_from_rc = ed.launch_command[0] != '\0';
  ed.rc_path = start.rc_path;
  Print(ed.io, msg::kHint, Shown(ed.io, ed.keys.values[kHelp]).c_str(),
        Shown(ed.io, ed.keys.values[kQuit]).c_str());
  if (!AllocateBuffers(ed, size)) {
    ed.Stop(1);
    return false;
  }

  const char* name = FileArgument(argc, argv);
  if (name != nullptr) {
    if (std::strlen(name) >= kNameSize) {
      Print(ed.io, "%s", msg::kNameTooLong);
    } else {
      std::strcpy(ed.current_name, name);
      LoadFile(ed, name);
    }
  }

  ed.cursor_line = 0;
  ed.cursor_pos = 0;
  ed.line_lock = 0;
  ForgetUndo(ed.undo);
  return ed.running;
}

void Quit(Editor& ed) {
  Line(ed.io, msg::kQuitConfirm);
  char* answer = ed.command_input.get();
  if (!ReadLine(ed.io, answer, ed.command_input_size())) {
    Print(ed.io, "\n");
    return ed.Stop(0);
  }
  if (std::strcmp(answer, "q\n") == 0) ed.Stop(0);
}

bool RunTurn(Editor& ed) {
  if (!ed.running) return false;
  Display(ed.cursor_line, ed.cursor_pos, ed.page_length - 1, ed.doc, ed.show_numbers,
          ed.current_name, ed.io);

  char* input = ed.command_input.get();
  if (!ReadLine(ed.io, input, ed.command_input_size())) {
    Print(ed.io, "\n");
    ed.Stop(0);
    return false;
  }
  if (std::strcmp(input, "\n") == 0 && ed.cursor_line < ed.lines() - 1) {
    ++ed.cursor_line;
    return true;
  }
  StripLineEnd(input);

  int id = FindCommand(ed.keys, input);
  if (id >= 0) {
    kCommands[id].handler(ed);
    return ed.running;
  }
  // "!" turns the next character into text; "!" alone is the empty text.
  if (input[0] == '!') {
    input[0] = input[1];
    if (input[0] != '\0') input[1] = '\0';
  }
  TextEntry(ed, input);
  return ed.running;
}

int RunEditor(int argc, const char* const* argv, Io io, Options options) {
  Editor ed;
  ed.io = io;
  ed.io.terminal = isatty(fileno(io.in)) == 1;
  ed.io.out_terminal = isatty(fileno(io.out)) == 1;
  ed.options = std::move(options);
  if (StartEditor(ed, argc, argv)) {
    while (RunTurn(ed)) {
    }
  }
  std::fflush(ed.io.out);
  return ed.exit_status;
}
