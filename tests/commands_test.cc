// The command table's contract, written out in full once: the help menu and the default
// settings file, which list every command with its default key, and the order in which keys
// are tried. Every other test takes these texts from here or the keys from the table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "session.h"

const std::string kHelpMenu =
    "'n'  Navigation Commands\n"
    "'e'  Editing Commands\n"
    "'f'  File Commands\n"
    "'m'  More Commands\n"
    "'x'  Exit Help\n";

const std::string kHelpNavigation =
    "\nNavigation:\n----------\n"
    "\n"
    "    'b' to move back a space\n"
    "    'n' to move forward a space\n"
    "\n"
    "    ',' to move up a line\n"
    "    '.' to move down a line\n"
    "\n"
    "    'l' to move to the beginning of a line\n"
    "    'e' to move to the end of a line\n"
    "\n"
    "    '<' to move back a page\n"
    "    '>' to move forward a page\n"
    "    'p' to set page length\n"
    "\n"
    "    'j' to jump to a string in the line\n"
    "    'J' to jump to a string on current or later lines\n"
    "\n"
    "    'L' to lock/unlock line switching\n"
    "\n"
    "    'g' to go to a line number\n"
    "    'G' to go a position in a line\n"
    "\n"
    "    'a' to move to an anchored position\n"
    "    'A' to set the anchored position\n"
    "\n";

const std::string kHelpEditing =
    "\nEditing:\n-------\n"
    "\n"
    "    'd' to clear a line\n"
    "    'm' to move a line\n"
    "    'w' to wedge (insert) a new line\n"
    "    'D' to delete a line and shift lines up\n"
    "    'C' to copy a whole line\n"
    "\n"
    "    'c' to copy text to memory\n"
    "    'x' to cut text to memory\n"
    "\n"
    "    'v' to paste text from memory by overwriting\n"
    "    'V' to paste text from memory by inserting and shifting\n"
    "    'i' to insert new text\n"
    "\n"
    "    't' to trim line at current position by deleting text\n"
    "    'T' to trim line and send extra text to next line\n"
    "\n"
    "    'z' to undo an edit\n"
    "\n";

const std::string kHelpFile =
    "\nFile:\n----\n"
    "\n"
    "Filenames can be entered as 1st run argument\n"
    "\n"
    "    's' to save a file with new name prompt\n"
    "    'S' to save a file using existing name\n"
    "\n"
    "    'O' to open a file and replace current buffer\n"
    "\n";

const std::string kHelpMore =
    "\n"
    "    '!' followed by a command letter enters the letter and not the command\n"
    "    '#' to toggle the display of line numbers\n"
    "    'h' to view help menu\n"
    "    '=' to launch a command\n"
    "    '+' to enter the command to be launched\n"
    "    'q' to quit\n"
    "\n";

const std::string kDefaultSettingsFile =
    "position_back=b\n"
    "position_forw=n\n"
    "position_down=,\n"
    "position_up=.\n"
    "position_beg=l\n"
    "position_end=e\n"
    "page_back=<\n"
    "page_forw=>\n"
    "page_length=p\n"
    "jump_line=j\n"
    "jump_doc=J\n"
    "lock_tog=L\n"
    "go_to_line=g\n"
    "go_to_pos=G\n"
    "anchor_go=a\n"
    "anchor_set=A\n"
    "line_clear=d\n"
    "line_move=m\n"
    "line_insert=w\n"
    "line_delete=D\n"
    "line_copy=C\n"
    "clip_copy=c\n"
    "clip_cut=x\n"
    "clip_paste=v\n"
    "clip_insert=V\n"
    "new_insert=i\n"
    "trim_end=t\n"
    "trim_wrap=T\n"
    "undo=z\n"
    "save_prompt=s\n"
    "save_overwrite=S\n"
    "open=O\n"
    "help=h\n"
    "num_tog=#\n"
    "command_exec==\n"
    "command_edit=+\n"
    "quit=q\n"
    "max_lines=32767\n"
    "max_char=255\n"
    "\n"
    "anchor_position=0\n"
    "lines_per_page=8\n"
    "show_numbers=on\n"
    "launch_command=\n";

namespace {

TEST(CommandTable, HelpMenuAndDefaultSettingsFileListEveryCommand) {
  TempDir dir;
  Transcript t = RunWithSettings(kPlainView, "h\nn\ne\nf\nm\nx\n");
  EXPECT_EQ(t.AfterHint(), PlainView(1, 1) + HelpLimits(255, 32767) + kHelpMenu + kHelpNavigation +
                               kHelpMenu + kHelpEditing + kHelpMenu + kHelpFile + kHelpMenu +
                               kHelpMore + kHelpMenu + PlainView(1, 1) + "\n");

  KeyTable keys;
  MakeKeys(keys);
  SetDefaultValues(keys);
  EXPECT_EQ(FormatSettings(keys, kDefaultGrid), kDefaultSettingsFile);
}

// The manual page has an entry for every command, their count and the order in which keys are
// tried; the README's table has every default key.
TEST(CommandTable, TheManualAndTheReadmeDocumentEveryCommand) {
  const std::string manual = ReadFile(MORVAX_SOURCE_DIR "/docs/morvax.1");
  const std::string readme = ReadFile(MORVAX_SOURCE_DIR "/README.md");
  ASSERT_NE(readme.find("## Default keys"), std::string::npos);
  const std::string keys = readme.substr(readme.find("## Default keys"));
  for (const Command& command : kCommands) {
    std::string key(1, command.default_key);
    std::string entry =
        ".BR " + (key == "." ? "\\&." : key) + " \"  (\\fI" + command.name + "\\fP)\"\n";
    EXPECT_NE(manual.find(entry), std::string::npos) << entry;
    EXPECT_NE(keys.find("`" + key + "`"), std::string::npos)
        << "the README's key table lacks " << command.name;
  }
  const std::string commands = std::to_string(kCommandCount);
  const std::string lines =
      std::to_string(std::count(kDefaultSettingsFile.begin(), kDefaultSettingsFile.end(), '\n'));
  EXPECT_NE(manual.find("One line for each of the " + commands + " commands"), std::string::npos)
      << "the manual's SETTINGS counts " << commands << " commands";
  // The settings list names the first two rows and the last, in the table's order.
  const std::string list = "has " + lines + " lines: the " + commands + " command keys in the\n" +
                           "order\n.IR " + kCommands[0].name + " ,\n.IR " + kCommands[1].name +
                           " ,\n\\&...,\n.IR " + kCommands.back().name + " ,\n";
  EXPECT_NE(manual.find(list), std::string::npos) << list;
  EXPECT_NE(readme.find("with every default (" + lines + " lines)"), std::string::npos)
      << "the README counts " << lines << " lines in the default settings file";

  // ".B , . n b ... +\n.BR q .\n": every default key, in the order they are tried.
  std::string order = ".B";
  for (CommandId id : kDispatchOrder) {
    if (id == kDispatchOrder.back()) order += "\n.BR";
    order += std::string(" ") + kCommands[id].default_key;
  }
  order += " .\n";
  const std::string intro = "The commands are tried in this order (shown by their default keys):\n";
  ASSERT_NE(manual.find(intro), std::string::npos);
  EXPECT_EQ(manual.substr(manual.find(intro) + intro.size(), order.size()), order);
}

// The loop gets the memory for a change before every command marked as changing the
// document, so a command that changes it must be marked. Each command runs at 2:2 of a
// document whose first line was just typed (for undo), with "de" in the clipboard and "3" at
// every prompt. `open` is left out: it replaces the document by a load, not by a change.
TEST(CommandTable, EveryCommandThatChangesTheDocumentIsMarkedSo) {
  for (const Command& command : kCommands) {
    if (std::string_view(command.name) == "open") continue;
    TempDir dir;
    WriteFile("doc.txt", "abc\ndef\nghi\n");
    WriteFile(".morvax_rc", "");
    std::string input = "X\nc\n2\nn\n" + std::string(1, command.default_key) + "\n3\n3\n3\n";
    Output out;
    std::FILE* in = InputFrom(input);
    Transcript t;
    t.ed = std::make_unique<Editor>();
    t.ed->io = Io{in, out.file()};
    t.ed->options.run_shell = [](const char*) {};
    const char* argv[] = {"morvax", "doc.txt"};
    ASSERT_TRUE(StartEditor(*t.ed, 2, argv));
    for (int turn = 0; turn < 3; ++turn) ASSERT_TRUE(RunTurn(*t.ed));
    ASSERT_EQ(t.Lines(), (std::vector<std::string>{"Xbc", "def", "ghi"})) << command.name;
    (void)RunTurn(*t.ed);  // the command, with every answer it asks for
    EXPECT_TRUE(t.Lines() == std::vector<std::string>({"Xbc", "def", "ghi"}) ||
                command.Has(kChangesDocument))
        << command.name;
    std::fclose(in);
    t.ed->io = Io{};
  }
}

}  // namespace
