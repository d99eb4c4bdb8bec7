// The help menu: the limits line, the four sections byte for byte with the keys in force, and
// how answers are read and judged.
#include <gtest/gtest.h>

#include <string>

#include "session.h"

namespace {

// The sections as printed; "{N}" stands for the key of CommandId N.
const std::string kNavigation =
    "\nNavigation:\n----------\n"
    "\n"
    "    '{0}' to move back a space\n"
    "    '{1}' to move forward a space\n"
    "\n"
    "    '{2}' to move up a line\n"
    "    '{3}' to move down a line\n"
    "\n"
    "    '{4}' to move to the beginning of a line\n"
    "    '{5}' to move to the end of a line\n"
    "\n"
    "    '{6}' to move back a page\n"
    "    '{7}' to move forward a page\n"
    "    '{8}' to set page length\n"
    "\n"
    "    '{9}' to jump to a string in the line\n"
    "    '{10}' to jump to a string on current or later lines\n"
    "\n"
    "    '{11}' to lock/unlock line switching\n"
    "\n"
    "    '{12}' to go to a line number\n"
    "    '{13}' to go a position in a line\n"
    "\n"
    "    '{14}' to move to an anchored position\n"
    "    '{15}' to set the anchored position\n"
    "\n";

const std::string kEditing =
    "\nEditing:\n-------\n"
    "\n"
    "    '{16}' to clear a line\n"
    "    '{17}' to move a line\n"
    "    '{18}' to wedge (insert) a new line\n"
    "    '{19}' to delete a line and shift lines up\n"
    "    '{20}' to copy a whole line\n"
    "\n"
    "    '{21}' to copy text to memory\n"
    "    '{22}' to cut text to memory\n"
    "\n"
    "    '{23}' to paste text from memory by overwriting\n"
    "    '{24}' to paste text from memory by inserting and shifting\n"
    "    '{25}' to insert new text\n"
    "\n"
    "    '{26}' to trim line at current position by deleting text\n"
    "    '{27}' to trim line and send extra text to next line\n"
    "\n"
    "    '{28}' to undo an edit\n"
    "\n";

const std::string kFile =
    "\nFile:\n----\n"
    "\n"
    "Filenames can be entered as 1st run argument\n"
    "\n"
    "    '{29}' to save a file with new name prompt\n"
    "    '{30}' to save a file using existing name\n"
    "\n"
    "    'O' to open a file and replace current buffer\n"
    "\n";

const std::string kMore =
    "\n"
    "    '!' followed by a command letter enters the letter and not the command\n"
    "    '{33}' to toggle the display of line numbers\n"
    "    '{32}' to view help menu\n"
    "    '{34}' to launch a command\n"
    "    '{35}' to enter the command to be launched\n"
    "    '{36}' to quit\n"
    "\n";

const std::string kMenu =
    "'n'  Navigation Commands\n"
    "'e'  Editing Commands\n"
    "'f'  File Commands\n"
    "'m'  More Commands\n"
    "'x'  Exit Help\n";

// Puts the keys (by CommandId) in place of the "{N}" marks.
std::string Fill(const std::string& text, const std::string& keys) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '{') {
      out += text[i];
      continue;
    }
    std::size_t close = text.find('}', i);
    out += keys.at(std::stoul(text.substr(i + 1, close - i - 1)));
    i = close;
  }
  return out;
}

std::string Limits(int length, int lines) {
  return "\nLimits:  Line length = " + std::to_string(length) +
         "     Total Lines = " + std::to_string(lines) + "\n\n";
}

const std::string kPlainView = "show_numbers=off\nlines_per_page=1\n";

std::string View(int line, int pos) {
  return Header(line, pos) + ">\n> ";
}

TEST(HelpMenu, EverySectionWithTheDefaultKeys) {
  const std::string default_keys = DefaultKeys();
  TempDir dir;
  Transcript t = RunWithSettings(kPlainView, "h\nn\ne\nf\nm\nx\n");
  EXPECT_EQ(t.AfterHint(), View(1, 1) + Limits(255, 32767) + kMenu +
                               Fill(kNavigation, default_keys) + kMenu +
                               Fill(kEditing, default_keys) + kMenu + Fill(kFile, default_keys) +
                               kMenu + Fill(kMore, default_keys) + kMenu + View(1, 1) + "\n");
}

TEST(HelpMenu, EverySectionShowsReboundKeysAndTheSettingsLimits) {
  // Every command on a key of its own, `open` included: the File section still names "O".
  const std::string keys = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789%";
  std::string settings = kPlainView + "max_char=80\nmax_lines=1000\n";
  for (int id = 0; id < kCommandCount; ++id) {
    settings += std::string(kCommands[id].name) + "=" + keys[id] + "\n";
  }
  TempDir dir;
  Transcript t = RunWithSettings(settings, std::string(1, keys[kHelp]) + "\nn\ne\nf\nm\nx\n");
  EXPECT_EQ(t.AfterHint(), View(1, 1) + Limits(80, 1000) + kMenu + Fill(kNavigation, keys) + kMenu +
                               Fill(kEditing, keys) + kMenu + Fill(kFile, keys) + kMenu +
                               Fill(kMore, keys) + kMenu + View(1, 1) + "\n");
  EXPECT_NE(t.out.find("\nEnter '6' for help or '%' to quit\n"), std::string::npos);
}

struct AnswerCase {
  const char* name;
  std::string answers;
  std::string shown;  // what follows the limits: M menu, N E F O the sections
  std::string after;  // what the loop prints after the help
  std::string line1 = {};
};

TEST(HelpMenu, AnswersAreJudgedByTheirFirstCharacterFifteenAtATime) {
  const std::string default_keys = DefaultKeys();
  const std::string fifteen(15, 'a');
  const AnswerCase cases[] = {
      {"exit shows Editing", "exit\nx\n", "MEM", View(1, 1) + "\n"},
      {"nx shows Navigation, then the menu", "nx\nx\n", "MNM", View(1, 1) + "\n"},
      {"upper-case letters bring the menu back", "N\nE\nF\nM\nX\nx\n", "MMMMMM", View(1, 1) + "\n"},
      {"plain Enter brings the menu back", "\nx\n", "MM", View(1, 1) + "\n"},
      {"x with more text leaves", "xyz\n", "M", View(1, 1) + "\n"},
      {"a line of 15 and its line end is one answer", fifteen + "\nx\n", "MM", View(1, 1) + "\n"},
      {"characters past the fifteenth are dropped", fifteen + "m\nx\n", "MM", View(1, 1) + "\n"},
      {"only the first piece of a long line counts",
       std::string("n").append(14, 'b').append("f").append(14, 'c') + "x\n", "MNM",
       View(1, 1) + "\n"},
      {"nothing of a long line is left for the loop", "x" + std::string(20, 'b') + "ZZ\n", "M",
       View(1, 1) + "\n"},
      {"end of input leaves the help", "n\n", "MNM", View(1, 1) + "\n"},
      {"end of input at once", "", "M", View(1, 1) + "\n"},
  };
  for (const AnswerCase& c : cases) {
    TempDir dir;
    Transcript t = RunWithSettings(kPlainView, "h\n" + c.answers);
    std::string shown;
    for (char s : c.shown) {
      if (s == 'M') shown += kMenu;
      if (s == 'N') shown += Fill(kNavigation, default_keys);
      if (s == 'E') shown += Fill(kEditing, default_keys);
      if (s == 'F') shown += Fill(kFile, default_keys);
      if (s == 'O') shown += Fill(kMore, default_keys);
    }
    EXPECT_EQ(t.AfterHint(), View(1, 1) + Limits(255, 32767) + shown + c.after) << c.name;
    EXPECT_EQ(t.Line(0), c.line1) << c.name;
  }
}

}  // namespace
