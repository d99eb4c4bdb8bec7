// The stored shell command: the prompt that shows and replaces it, and `command_exec`, which
// saves and then runs it through the shell.
#include "app/launch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "session.h"
#include "settings/consent.h"

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
      {"255 characters and the line end", "", long_line + "\n", long_line,
       kNoCommand + kPrompt + View(1, 1) + "\n"},
      {"a longer command is refused and the old one kept", "make", long_line + "rest\n", "make",
       "Command in memory = make\n" + kPrompt + "Command is longer than 255 characters\n" +
           View(1, 1) + "\n"},
  };
  for (const EditCase& c : cases) {
    TempDir dir;
    std::string settings = kPlainView + (c.held.empty() ? "" : "launch_command=" + c.held + "\n");
    Transcript t = RunWithSettings(settings, "+\n" + c.input);
    EXPECT_EQ(t.ed->launch_command, c.command) << c.name;
    EXPECT_EQ(t.AfterHint(), View(1, 1) + c.out) << c.name;
  }
  // A refused command abandons `command_exec` too: nothing is saved or run.
  TempDir dir;
  std::vector<std::string> runs;
  Options options;
  options.run_shell = [&](const char* command) { runs.emplace_back(command); };
  Transcript t = RunWithSettings(kPlainView, "=\n" + long_line + "rest\n", {}, options);
  EXPECT_TRUE(runs.empty());
  EXPECT_EQ(t.out.find("Enter a filename"), std::string::npos);
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

// The command runs only after the save: not when the input ends at the name prompt, nor when a
// taken name is not to be overwritten.
TEST(LaunchCommand, ExecRunsNothingAfterAnAbandonedSave) {
  const std::string taken = "taken already exists; overwrite it? (y/n)\n";
  const struct {
    std::string input, said, content;
    std::size_t runs;
  } cases[] = {
      {"=\n", "Enter a filename to save to\n", "theirs\n", 0},
      {"=\ntaken\n", taken + "Nothing was saved\n", "theirs\n", 0},
      {"=\ntaken\nn\n", taken + "Nothing was saved\n", "theirs\n", 0},
      {"=\ntaken\ny\n", taken + "Saved to taken\n", "\n", 1},
  };
  for (const auto& c : cases) {
    TempDir dir;
    WriteFile("taken", "theirs\n");
    std::vector<std::string> runs;
    Options options;
    options.run_shell = [&](const char* command) { runs.emplace_back(command); };
    Transcript t = RunWithSettings(kPlainView + "launch_command=make\n", c.input, {}, options);
    EXPECT_EQ(runs.size(), c.runs) << c.input;
    EXPECT_NE(t.out.find(c.said), std::string::npos) << c.input;
    EXPECT_EQ(ReadFile("taken"), c.content) << c.input;
    EXPECT_EQ(t.status, 0) << c.input;
  }
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

mode_t Mode(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// At a terminal, a command from the settings file runs only after "y", which is remembered for
// that file and that command; elsewhere, or for a typed command, nothing is asked.
TEST(LaunchCommand, CommandFromTheSettingsAsksForConsentOnceAtATerminal) {
  TempDir dir;
  ScopedEnv state("XDG_STATE_HOME", (dir.path() + "/state").c_str());
  const std::string allowed = dir.path() + "/state/morvax/allowed";
  std::vector<std::string> runs;
  Options options;
  // The command takes the saved file away, so that each session saves a new doc.txt.
  options.run_shell = [&](const char* command) {
    runs.emplace_back(command);
    std::remove("doc.txt");
  };
  const std::string settings = kPlainView + "launch_command=make\n";
  WriteFile(".morvax_rc", settings);
  const std::string rc = std::filesystem::canonical(".morvax_rc").string();
  const std::string question = "The launch command comes from " + rc + ":\n  make\nRun it? (y/n)\n";
  const std::string save = "Enter a filename to save to\nSaved to doc.txt\n";

  // Every answer but "y" abandons the command: nothing saved, run or recorded. Standard input
  // at a terminal asks, whatever standard output is.
  for (Terminals terminals : {kAtTerminal, Terminals{.in = true}}) {
    for (std::string answer : {"n\n", "Y\n", "yes\n", "\n", ""}) {
      Transcript t = RunWithSettings(settings, "=\n" + answer, {}, options, terminals);
      EXPECT_EQ(t.AfterHint(), View(1, 1) + question + View(1, 1) + "\n") << answer;
    }
  }
  EXPECT_TRUE(runs.empty());
  EXPECT_FALSE(FileExists("doc.txt"));
  EXPECT_FALSE(FileExists(allowed));

  // Standard input not at a terminal, or a command typed in the session: nothing is asked.
  for (Terminals terminals : {Terminals{}, Terminals{.out = true}}) {
    Transcript t = RunWithSettings(settings, "=\ndoc.txt\n", {}, options, terminals);
    EXPECT_EQ(t.out.find("Run it?"), std::string::npos);
  }
  Transcript typed = RunWithSettings(settings, "+\nmake\n=\ndoc.txt\n", {}, options, kAtTerminal);
  EXPECT_EQ(typed.out.find("Run it?"), std::string::npos);
  EXPECT_EQ(runs, std::vector<std::string>(3, "make"));

  // "y" runs the command and records it; later sessions do not ask while file and command
  // stay the same.
  runs.clear();
  Transcript yes = RunWithSettings(settings, "=\ny\ndoc.txt\n", {}, options, kAtTerminal);
  EXPECT_EQ(yes.AfterHint(), View(1, 1) + question + save + View(1, 1, "doc.txt") + "\n");
  const std::string record = std::to_string(rc.size()) + " " + rc + " make\n";
  EXPECT_EQ(ReadFile(allowed), record);
  EXPECT_EQ(Mode(allowed), 0600u);
  EXPECT_EQ(Mode(dir.path() + "/state/morvax"), 0700u);
  EXPECT_EQ(Mode(dir.path() + "/state"), 0700u);
  Transcript again = RunWithSettings(settings, "=\ndoc.txt\n=\n", {}, options, kAtTerminal);
  EXPECT_EQ(again.AfterHint(), View(1, 1) + save + View(1, 1, "doc.txt") + "Saved to doc.txt\n" +
                                   View(1, 1, "doc.txt") + "\n");
  EXPECT_EQ(runs, std::vector<std::string>(3, "make"));

  // A second consent is recorded beside the first, and both are remembered.
  const std::string settings2 = kPlainView + "launch_command=make check\n";
  RunWithSettings(settings2, "=\ny\ndoc.txt\n", {}, options, kAtTerminal);
  const std::string records = record + std::to_string(rc.size()) + " " + rc + " make check\n";
  EXPECT_EQ(ReadFile(allowed), records);
  for (const std::string& held : {settings, settings2}) {
    Transcript t = RunWithSettings(held, "=\n", {}, options, kAtTerminal);
    EXPECT_EQ(t.out.find("Run it?"), std::string::npos) << held;
  }

  // Another command is asked about again, shown in caret display.
  Transcript other = RunWithSettings(kPlainView + "launch_command=make\x1b[2J\n", "=\nn\n", {},
                                     options, kAtTerminal);
  EXPECT_NE(other.out.find(":\n  make^[[2J\nRun it? (y/n)\n"), std::string::npos) << other.out;

  // A consent file others could have written does not count and takes no record; the command
  // still runs after "y".
  ASSERT_EQ(chmod(allowed.c_str(), 0620), 0);
  runs.clear();
  Transcript shared = RunWithSettings(settings, "=\ny\ndoc.txt\n", {}, options, kAtTerminal);
  EXPECT_NE(shared.out.find(question), std::string::npos);
  EXPECT_EQ(runs, std::vector<std::string>{"make"});
  EXPECT_EQ(ReadFile(allowed), records);
}

// A record counts only as a whole line: another settings file's command that holds the text of
// one grants nothing.
TEST(LaunchCommand, ConsentRecordsCountOnlyAsWholeLines) {
  TempDir dir;
  ScopedEnv state("XDG_STATE_HOME", (dir.path() + "/state").c_str());
  const std::string rc = dir.path() + "/.morvax_rc";
  const std::string embedded = "echo " + std::to_string(rc.size()) + " " + rc + " make";
  ASSERT_TRUE(RecordAllowed("/elsewhere/.morvax_rc", embedded).ok());
  EXPECT_FALSE(IsAllowed(rc, "make"));
  EXPECT_TRUE(IsAllowed("/elsewhere/.morvax_rc", embedded));
}

TEST(LaunchCommand, ConsentThatCannotBeRecordedRunsTheCommandOnce) {
  TempDir dir;
  WriteFile("not-a-folder", "");
  std::vector<std::string> runs;
  Options options;
  // The command takes the saved file away, so that each session saves a new doc.txt.
  options.run_shell = [&](const char* command) {
    runs.emplace_back(command);
    std::remove("doc.txt");
  };
  const std::string settings = kPlainView + "launch_command=make\n";
  {
    ScopedEnv state("XDG_STATE_HOME", (dir.path() + "/not-a-folder").c_str());
    for (int session = 0; session < 2; ++session) {
      Transcript t = RunWithSettings(settings, "=\ny\ndoc.txt\n", {}, options, kAtTerminal);
      EXPECT_NE(t.out.find("Run it? (y/n)\n"), std::string::npos) << session;
    }
    EXPECT_EQ(runs, std::vector<std::string>(2, "make"));
  }
  // Without XDG_STATE_HOME (or with a relative one) the file is under HOME.
  ScopedEnv home("HOME", dir.path().c_str());
  ScopedEnv state("XDG_STATE_HOME", "relative");
  RunWithSettings(settings, "=\ny\ndoc.txt\n", {}, options, kAtTerminal);
  EXPECT_NE(ReadFile(dir.path() + "/.local/state/morvax/allowed").find(" make\n"),
            std::string::npos);
}

}  // namespace
