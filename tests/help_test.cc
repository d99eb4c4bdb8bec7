// The help menu: how answers are read and judged. What each section shows is checked against
// the command table in commands_test.cc.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session.h"

namespace {

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
  // The sections as the answers "n", "e", "f" and "m" show them.
  std::vector<std::string> sections;
  {
    TempDir dir;
    sections = HelpSections(RunWithSettings(kPlainView, "h\nn\ne\nf\nm\nx\n").AfterHint());
    ASSERT_EQ(sections.size(), 6u);
  }
  for (const AnswerCase& c : cases) {
    TempDir dir;
    Transcript t = RunWithSettings(kPlainView, "h\n" + c.answers);
    std::string shown;
    for (char s : c.shown) {
      if (s == 'M') shown += kHelpMenu;
      if (s == 'N') shown += sections[1];
      if (s == 'E') shown += sections[2];
      if (s == 'F') shown += sections[3];
      if (s == 'O') shown += sections[4];
    }
    EXPECT_EQ(t.AfterHint(), PlainView(1, 1) + HelpLimits(255, 32767) + shown + c.after) << c.name;
    EXPECT_EQ(t.Line(0), c.line1) << c.name;
  }
}

}  // namespace
