// The input ends at every prompt of every command: the command is abandoned, the program
// ends at once with its status, prints nothing after the last view but the final line end,
// and leaves every file as it was unless a save had already completed.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "session.h"

namespace {

const std::string kDoc = "one\ntwo\nthree\n";
const std::string kTaken = "other.txt already exists; overwrite it? (y/n)\nNothing was saved\n";
const std::string kSplit = "doc.txt had lines longer than 3 characters, which were split when it "
                           "was read; save them split? (y/n)\nNothing was saved\n";

struct CutCase {
  std::string name;         // begins with the name of the command it cuts short
  std::string input;        // everything typed before the input ends
  std::string last_prompt;  // what the program printed last before it met the end
  bool with_file = true;    // started with doc.txt as the first argument
  std::string settings = "";
  int status = 0;
  bool view_after = true;  // the abandoned command is followed by one more view
  bool saves = false;      // a save completed before the cut
};

std::map<std::string, std::string> Snapshot() {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    std::string name = entry.path().filename().string();
    if (name != ".morvax_rc") files[name] = ReadFile(name);
  }
  return files;
}

std::vector<CutCase> Cases() {
  std::vector<CutCase> cases = {
      {"page_length", "p\n", "Enter number of lines to display\n"},
      {"jump_line", "j\n", "Enter jump string\n"},
      {"jump_doc", "J\n", "Enter jump string\n"},
      {"go_to_line", "g\n", "Go to which line?\n"},
      {"go_to_pos", "G\n", "Go to which position?\n"},
      {"new_insert", "i\n", "Enter string to insert\n"},
      {"clip_copy", "c\n", "Copy how many characters?\n"},
      {"clip_cut", "x\n", "Enter cut size\n"},
      {"line_move", "m\n", "Move line 1 to where?\n"},
      {"line_copy", "C\n", "Copy line 1 to where?\n"},
      {"save_prompt name", "s\n", "Enter a filename to save to, or 'x' to return\n"},
      {"save_prompt existing", "s\ndoc.txt\n", "Enter a new filename or 'o' to overwrite\n"},
      {"save_prompt exists again", "s\ndoc.txt\nother.txt\n", "File exists. Try again\n"},
      {"save_prompt empty name", "s\n\n",
       "Enter a filename to save to\nNo file name given; nothing saved\n"},
      {"save_overwrite without a name", "S\n",
       "Enter a filename to save to\nNo file name given; nothing saved\n", false},
      {"save_overwrite to a taken name", "S\nother.txt\n", kTaken, false},
      {"save_prompt empty name, then a taken one", "s\n\nother.txt\n", kTaken},
      {"save_overwrite with a name", "S\n", "Saved to doc.txt\n", true, "", 0, true, true},
      {"save_overwrite over split lines", "S\n", kSplit, true, "max_char=3\n"},
      {"command_exec over split lines", "=\n", kSplit, true,
       "max_char=3\nlaunch_command=touch ran.txt\n"},
      {"open dialogue", "O\n", "Enter 'x' to not open a file and return\n"},
      {"open after saving", "O\ns\n", "Next, enter a new filename to open\n", true, "", 0, true,
       true},
      {"open save without a name", "O\ns\n",
       "Enter a filename to save to\nNo file name given; nothing saved\n", false},
      {"open save to a taken name", "O\ns\nother.txt\n", kTaken, false},
      // The open is abandoned and the session goes on to its next view.
      {"open partial load", "O\nbig.txt\n",
       "If not, restart with more lines by editing the "
       ".morvax_rc file.\n",
       true, "max_lines=4\n"},
      {"start-up partial load", "",
       "If not, restart with more lines by editing the "
       ".morvax_rc file.\n",
       true, "max_lines=2\n", 1, false},
      {"help menu", "h\n", "'x'  Exit Help\n"},
      {"help after a section", "h\nf\n", "'x'  Exit Help\n"},
      {"command_exec without command", "=\n", "Enter new command or [enter] to keep current one\n"},
      {"command_exec save without a name", "=\n",
       "Enter a filename to save to\nNo file name given; nothing saved\n", false,
       "launch_command=touch ran.txt\n"},
      {"command_exec save to a taken name", "=\nother.txt\n", kTaken, false,
       "launch_command=touch ran.txt\n"},
      {"command_edit", "+\n", "Enter new command or [enter] to keep current one\n"},
      {"quit", "q\n", "Enter 'q' again to quit or anything else to continue\n", true, "", 0, false},
  };
  // Every command without a row above asks nothing: the input ends at the next read of the loop
  // (or, for a command that does ask, at its first prompt).
  for (const Command& command : kCommands) {
    std::string name = command.name;
    bool listed = false;
    for (const CutCase& c : cases) {
      listed = listed || c.name == name || c.name.rfind(name + " ", 0) == 0;
    }
    if (!listed) cases.push_back({name, std::string(1, command.default_key) + "\n", ""});
  }
  return cases;
}

TEST(EndOfInput, EveryPromptOfEveryCommand) {
  for (const CutCase& c : Cases()) {
    TempDir dir;
    WriteFile("doc.txt", kDoc);
    WriteFile("other.txt", "other\n");
    WriteFile("big.txt", "1\n2\n3\n4\n5\n6\n");
    WriteFile(".morvax_rc", c.settings);
    std::map<std::string, std::string> before = Snapshot();
    std::vector<std::string> args;
    if (c.with_file) args.push_back("doc.txt");
    Transcript t = RunSession(c.input, args);

    EXPECT_EQ(t.status, c.status) << c.name;
    EXPECT_FALSE(t.ed->running) << c.name;
    std::string tail = c.last_prompt;
    if (c.view_after) {
      // The last view: from its header to its prompt, then the final line end.
      std::size_t view = t.out.rfind("\nEditing ");
      ASSERT_NE(view, std::string::npos) << c.name;
      EXPECT_EQ(t.out.substr(t.out.size() - 3), "> \n") << c.name << ": " << t.out;
      EXPECT_EQ(t.out.find("Editing ", view + 9), std::string::npos) << c.name;
      ASSERT_GE(view, tail.size()) << c.name;
      EXPECT_EQ(t.out.substr(view - tail.size(), tail.size()), tail) << c.name << ": " << t.out;
    } else {
      tail += "\n";
      ASSERT_GE(t.out.size(), tail.size()) << c.name;
      EXPECT_EQ(t.out.substr(t.out.size() - tail.size()), tail) << c.name << ": " << t.out;
    }
    std::map<std::string, std::string> after = Snapshot();
    if (!c.saves) {
      EXPECT_EQ(after, before) << c.name;
    }
    EXPECT_FALSE(FileExists("ran.txt")) << c.name << ": nothing may run after an abandoned save";
  }
}

}  // namespace
