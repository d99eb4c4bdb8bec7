// The command table's contract, written out in full once: the help menu and the default
// settings file, which list every command with its default key, and the order in which keys
// are tried. Every other test takes these texts from here or the keys from the table.
#include <gtest/gtest.h>

#include <string>

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

TEST(CommandTable, KeysAreTriedInTheDocumentedOrderAndTheFirstBoundRuns) {
  std::string order;
  for (CommandId id : kDispatchOrder) order += kCommands[id].default_key;
  EXPECT_EQ(order, ",.nb><lL#jJgGecVvdixtTsSOmCAawDhpz=+q");

  // undo shares position_back's key: only position_back, tried first, runs.
  TempDir dir;
  Transcript t = RunWithSettings(kPlainView + "undo=b\n", "ab\nn\nb\n");
  EXPECT_EQ(t.ed->cursor_pos, 0);
  EXPECT_EQ(t.Line(0), "ab");
}

}  // namespace
