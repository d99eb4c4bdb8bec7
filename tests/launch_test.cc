// The stored shell command: the prompt that shows and replaces it, and `command_exec`, which
// saves and then runs it through the shell.
#include "app/launch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "session.h"

namespace {

// Unnumbered one-line view, so that every view is the header and the current line.
const std::string kPlainView = "show_numbers=off\nlines_per_page=1\n";

std::string View(int line, int pos, const std::string& name = "", const std::string& text = "") {
  return Header(line, pos, name) + (text.empty() ? ">\n" : "> " + text + "\n") + "> ";
}

const std::string kNoCommand = "There is no command in memory\n";
const std::string kPrompt = "Enter new command or [enter] to keep current one\n";

struct EditCase {
  const char* name;
  std::string held;   // command from the settings file
  std::string input;  // after the `command_edit` key
  std::string command;
  std::string out;  // after the first view
};

TEST(LaunchCommand, EditShowsAndReplacesTheCommand) {
  const std::string long_line(255, 'a');
  const EditCase cases[] = {
      {"plain Enter keeps no command", "", "\n", "", kNoCommand + kPrompt + View(1, 1) + "\n"},
      {"ls replaces", "", "ls\n", "ls", kNoCommand + kPrompt + View(1, 1) + "\n"},
      {"a command from the settings is shown", "make", "\n", "make",
       "Command in memory = make\n" + kPrompt + View(1, 1) + "\n"},
      {"one character keeps the command", "make", "a\n", "make",
       "Command in memory = make\n" + kPrompt + View(1, 1) + "\n"},
      {"two characters replace it", "make", "ab\n", "ab",
       "Command in memory = make\n" + kPrompt + View(1, 1) + "\n"},
      {"blanks are kept", "", "  ls -l  \n", "  ls -l  ", kNoCommand + kPrompt + View(1, 1) + "\n"},
      {"end of input keeps the command", "make", "", "make",
       "Command in memory = make\n" + kPrompt + View(1, 1) + "\n"},
      {"end of input with no command", "", "", "", kNoCommand + kPrompt + View(1, 1) + "\n"},
      {"254 characters and the line end", "", std::string(254, 'b') + "\n", std::string(254, 'b'),
       kNoCommand + kPrompt + View(1, 1) + "\n"},
      {"the rest of a longer line is the next input", "", long_line + "rest\n", long_line,
       kNoCommand + kPrompt + View(1, 1) + View(2, 1) + "\n"},
  };
  for (const EditCase& c : cases) {
    TempDir dir;
    std::string settings = kPlainView + (c.held.empty() ? "" : "launch_command=" + c.held + "\n");
    Transcript t = RunWithSettings(settings, "+\n" + c.input);
    EXPECT_EQ(t.ed->launch_command, c.command) << c.name;
    EXPECT_EQ(t.AfterHint(), View(1, 1) + c.out) << c.name;
  }
  TempDir dir;
  Transcript rest = RunWithSettings(kPlainView, "+\n" + long_line + "rest\n");
  EXPECT_EQ(rest.Lines(), (std::vector<std::string>{"rest"}));
}

TEST(LaunchCommand, CommandTypedDuringTheRunLastsAndIsNotWrittenBack) {
  TempDir dir;
  std::vector<std::string> runs;
  Options options;
  options.run_shell = [&](const char* command) { runs.emplace_back(command); };
  Transcript t = RunWithSettings(kPlainView, "+\nls\n=\ndoc.txt\n+\n\n=\n", {}, options);
  EXPECT_EQ(runs, (std::vector<std::string>{"ls", "ls"}));
  EXPECT_EQ(ReadFile(".morvax_rc"), kPlainView);
  EXPECT_NE(t.out.find("Command in memory = ls\n"), std::string::npos);
}

TEST(LaunchCommand, ExecWithoutACommandAsksAndDoesNothingWhenNoneIsGiven) {
  for (std::string answer : {"\n", "x\n", ""}) {
    TempDir dir;
    std::vector<std::string> runs;
    Options options;
    options.run_shell = [&](const char* command) { runs.emplace_back(command); };
    Transcript t = RunWithSettings(kPlainView, "=\n" + answer, {}, options);
    EXPECT_TRUE(runs.empty()) << answer;
    EXPECT_EQ(t.AfterHint(), View(1, 1) + kNoCommand + kPrompt + View(1, 1) + "\n") << answer;
  }
}

TEST(LaunchCommand, ExecSavesEveryTimeThenRunsTheCommand) {
  TempDir dir;
  std::vector<std::string> runs;
  Options options;
  options.run_shell = [&](const char* command) {
    // The save has happened by the time the shell runs.
    runs.push_back(std::string(command) + ":" + ReadFile("doc.txt"));
  };
  Transcript t =
      RunWithSettings(kPlainView + "launch_command=make run\n", "hi\n=\ndoc.txt\n=\n", {}, options);
  EXPECT_EQ(runs, (std::vector<std::string>{"make run:hi\n", "make run:hi\n"}));
  EXPECT_EQ(t.AfterHint(), View(1, 1) + View(2, 1) + "Enter a filename to save to\n" +
                               "Saved to doc.txt\n" + View(2, 1, "doc.txt") + "Saved to doc.txt\n" +
                               View(2, 1, "doc.txt") + "\n");
}

TEST(LaunchCommand, ExecRunsNothingWhenTheInputEndsAtTheNamePrompt) {
  TempDir dir;
  std::vector<std::string> runs;
  Options options;
  options.run_shell = [&](const char* command) { runs.emplace_back(command); };
  Transcript t = RunWithSettings(kPlainView + "launch_command=make\n", "=\n", {}, options);
  EXPECT_TRUE(runs.empty());
  EXPECT_NE(t.out.find("Enter a filename to save to\n"), std::string::npos);
}

TEST(LaunchCommand, ExecRunsARealShellCommandAfterTheSave) {
  TempDir dir;
  Transcript t =
      RunWithSettings(kPlainView + "launch_command=cp doc.txt saved.txt && echo done >> log\n",
                      "first\nsecond\n=\ndoc.txt\n");
  EXPECT_EQ(ReadFile("saved.txt"), "first\nsecond\n");
  EXPECT_EQ(ReadFile("log"), "done\n");
  EXPECT_EQ(t.status, 0);
}

TEST(LaunchCommand, EditorOutputReachesTheStreamBeforeTheCommandsOutput) {
  TempDir dir;
  WriteFile(".morvax_rc", kPlainView + "launch_command=cat doc.txt >> out.log\n");
  // The session appends to the file the command appends to: it holds both in their order.
  std::FILE* log = std::fopen("out.log", "a");
  RunSession("hello\n=\ndoc.txt\n", {}, {}, log);
  std::fclose(log);
  std::string out = ReadFile("out.log");
  std::size_t hint = out.find(" to quit\n");
  ASSERT_NE(hint, std::string::npos) << out;
  EXPECT_EQ(out.substr(hint + 9), View(1, 1) + View(2, 1) + "Enter a filename to save to\n" +
                                      "Saved to doc.txt\n" + "hello\n" + View(2, 1, "doc.txt") +
                                      "\n");
}

}  // namespace
