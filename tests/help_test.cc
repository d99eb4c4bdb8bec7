// The help menu: the four sections with the keys in force, and how answers are read and
// judged. The sections as printed with the default keys are in commands_test.cc.
#include <gtest/gtest.h>

#include <string>

#include "session.h"

namespace {

// The help with every command on a key of its own, `keys` (by CommandId): each line that shows
// a default key shows the command's key instead, except open's, which always names "O".
std::string Rebound(const std::string& help, const std::string& keys) {
  std::string out = help;
  for (std::size_t at = out.find("    '"); at != std::string::npos;
       at = out.find("    '", at + 1)) {
    for (CommandId id = 0; id < kCommandCount; ++id) {
      if (out[at + 5] != kCommands[id].default_key || id == CommandNamed("open")) continue;
      out[at + 5] = keys.at(id);
      break;
    }
  }
  return out;
}

TEST(HelpMenu, EverySectionShowsReboundKeysAndTheSettingsLimits) {
  // Every command on a key of its own, `open` included: the File section still names "O".
  const std::string pool = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789%&()*-/:;@[]^_{|}~";
  ASSERT_LE(kCommandCount, static_cast<int>(pool.size()));
  const std::string keys = pool.substr(0, kCommandCount);
  std::string settings = kPlainView + "max_char=80\nmax_lines=1000\n";
  for (int id = 0; id < kCommandCount; ++id) {
    settings += std::string(kCommands[id].name) + "=" + keys[id] + "\n";
  }
  TempDir dir;
  Transcript t = RunWithSettings(settings, std::string(1, keys[kHelp]) + "\nn\ne\nf\nm\nx\n");
  EXPECT_EQ(t.AfterHint(),
            PlainView(1, 1) + HelpLimits(80, 1000) + kHelpMenu + Rebound(kHelpNavigation, keys) +
                kHelpMenu + Rebound(kHelpEditing, keys) + kHelpMenu + Rebound(kHelpFile, keys) +
                kHelpMenu + Rebound(kHelpMore, keys) + kHelpMenu + PlainView(1, 1) + "\n");
  EXPECT_NE(t.out.find(std::string("\nEnter '") + keys[kHelp] + "' for help or '" + keys[kQuit] +
                       "' to quit\n"),
            std::string::npos);
}

struct AnswerCase {
  const char* name;
  std::string answers;
  std::string shown;  // what follows the limits: M menu, N E F O the sections
  std::string after;  // what the loop prints after the help
  std::string line1 = {};
};

TEST(HelpMenu, AnswersAreJudgedByTheirFirstCharacterFifteenAtATime) {
  const std::string fifteen(15, 'a');
  const AnswerCase cases[] = {
      {"exit shows Editing", "exit\nx\n", "MEM", PlainView(1, 1) + "\n"},
      {"nx shows Navigation, then the menu", "nx\nx\n", "MNM", PlainView(1, 1) + "\n"},
      {"upper-case letters bring the menu back", "N\nE\nF\nM\nX\nx\n", "MMMMMM",
       PlainView(1, 1) + "\n"},
      {"plain Enter brings the menu back", "\nx\n", "MM", PlainView(1, 1) + "\n"},
      {"x with more text leaves", "xyz\n", "M", PlainView(1, 1) + "\n"},
      {"a line of 15 and its line end is one answer", fifteen + "\nx\n", "MM",
       PlainView(1, 1) + "\n"},
      {"characters past the fifteenth are dropped", fifteen + "m\nx\n", "MM",
       PlainView(1, 1) + "\n"},
      {"only the first piece of a long line counts",
       std::string("n").append(14, 'b').append("f").append(14, 'c') + "x\n", "MNM",
       PlainView(1, 1) + "\n"},
      {"nothing of a long line is left for the loop", "x" + std::string(20, 'b') + "ZZ\n", "M",
       PlainView(1, 1) + "\n"},
      {"end of input leaves the help", "n\n", "MNM", PlainView(1, 1) + "\n"},
      {"end of input at once", "", "M", PlainView(1, 1) + "\n"},
  };
  for (const AnswerCase& c : cases) {
    TempDir dir;
    Transcript t = RunWithSettings(kPlainView, "h\n" + c.answers);
    std::string shown;
    for (char s : c.shown) {
      if (s == 'M') shown += kHelpMenu;
      if (s == 'N') shown += kHelpNavigation;
      if (s == 'E') shown += kHelpEditing;
      if (s == 'F') shown += kHelpFile;
      if (s == 'O') shown += kHelpMore;
    }
    EXPECT_EQ(t.AfterHint(), PlainView(1, 1) + HelpLimits(255, 32767) + shown + c.after) << c.name;
    EXPECT_EQ(t.Line(0), c.line1) << c.name;
  }
}

}  // namespace
