// The settings file: the default file, how every kind of line is read, what happens when the
// file cannot be read or made, and how its values reach the running editor.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <cerrno>
#include <string>

#include "app/messages.h"
#include "session.h"
#include "settings/rc.h"

namespace {

constexpr CommandId kUndo = CommandNamed("undo");

// What start-up prints up to and including the help/quit hint.
std::string Start(const std::string& settings_message, char help = 'h', char quit = 'q') {
  return std::string("Morvax ") + MORVAX_VERSION + "\n" + settings_message + "\nEnter '" + help +
         "' for help or '" + quit + "' to quit\n";
}

const std::string kReading = "Reading RC file: .morvax_rc\n";
const std::string kCannotRead = "Cannot read RC file: .morvax_rc\n";
std::string Ignoring(const std::string& reason) {
  return "Ignoring RC file .morvax_rc: " + reason + "\n";
}
const std::string kNotRegular = Ignoring("not a regular file");

TEST(SettingsFile, FirstStartWritesTheDefaultFileAndTheNextStartReadsIt) {
  TempDir dir;
  mode_t shared = umask(002);  // a umask that lets the group write new files: not this one
  Transcript first = RunSession("");
  umask(shared);
  EXPECT_EQ(first.out.rfind(Start("Making RC file: .morvax_rc\n"), 0), 0u) << first.out;
  EXPECT_EQ(ReadFile(".morvax_rc"), DefaultSettingsFile());

  Transcript second = RunSession("");
  EXPECT_EQ(second.out.rfind(Start(kReading), 0), 0u) << second.out;
  EXPECT_EQ(ReadFile(".morvax_rc"), DefaultSettingsFile()) << "a readable file is never rewritten";
  for (int id = 0; id < kCommandCount; ++id) {
    EXPECT_EQ(second.ed->keys[id].value, std::string(1, DefaultKeys()[id])) << id;
  }
  EXPECT_EQ(second.ed->lines(), 32767);
  EXPECT_EQ(second.ed->lsize(), 256);
}

TEST(SettingsFile, WrittenFileCarriesTheCurrentKeysAndSizeButFixedStartingValues) {
  KeyTable keys;
  MakeKeys(keys);
  SetDefaultValues(keys);
  keys[kHelp].value[0] = '?';
  std::string expected = DefaultSettingsFile();
  expected.replace(expected.find("help=h"), 6, "help=?");
  expected.replace(expected.find("max_lines=32767\nmax_char=255"), 28,
                   "max_lines=100\nmax_char=80");
  EXPECT_EQ(FormatSettings(keys, GridSize{100, 81}), expected);

  TempDir dir;
  EXPECT_TRUE(MakeRC(keys, GridSize{100, 81}, "made").ok());
  EXPECT_EQ(ReadFile("made"), expected);
}

TEST(SettingsFile, MakeNeverTruncatesSomethingThatExists) {
  TempDir dir;
  WriteFile("mine", "help=x\n");
  KeyTable keys;
  MakeKeys(keys);
  SetDefaultValues(keys);
  EXPECT_EQ(MakeRC(keys, GridSize{}, "mine").err, EEXIST);
  EXPECT_EQ(ReadFile("mine"), "help=x\n");
}

TEST(SettingsFile, UnreadableFileIsReportedAndKeptAndDefaultsHold) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads files without read permission";
  TempDir dir;
  WriteFile(".morvax_rc", "help=x\n");
  ASSERT_EQ(chmod(".morvax_rc", 0200), 0);
  Transcript t = RunSession("");
  chmod(".morvax_rc", 0600);
  EXPECT_EQ(t.out.rfind(Start(kCannotRead), 0), 0u) << t.out;
  EXPECT_EQ(t.ed->keys[kHelp].value, std::string("h"));
  EXPECT_EQ(ReadFile(".morvax_rc"), "help=x\n");
}

TEST(SettingsFile, DirectoryAtTheNameIsReportedAndLeftAlone) {
  TempDir dir;
  ASSERT_EQ(mkdir(".morvax_rc", 0700), 0);
  Transcript t = RunSession("");
  EXPECT_EQ(t.out.rfind(Start(kNotRegular), 0), 0u) << t.out;
  struct stat info;
  ASSERT_EQ(stat(".morvax_rc", &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(t.ed->lines(), 32767);
}

TEST(SettingsFile, FifoAtTheNameIsReportedWithoutWaitingForAWriter) {
  TempDir dir;
  ASSERT_EQ(mkfifo(".morvax_rc", 0600), 0);
  Transcript t = RunSession("");
  EXPECT_EQ(t.out.rfind(Start(kNotRegular), 0), 0u) << t.out;
  EXPECT_EQ(t.status, 0);
}

TEST(SettingsFile, DanglingLinkAtTheNameIsNotFollowedToCreateAFile) {
  TempDir dir;
  ASSERT_EQ(symlink("elsewhere", ".morvax_rc"), 0);
  Transcript t = RunSession("");
  EXPECT_EQ(t.out.rfind(Start(kNotRegular), 0), 0u) << t.out;
  EXPECT_FALSE(FileExists("elsewhere"));
}

// A settings file is read only when it can be trusted; otherwise the first reason is given, the
// defaults hold, and nothing is created or changed.
TEST(SettingsFile, UntrustedFilesAreIgnoredWithTheFirstReason) {
  constexpr uid_t kOther = 65534;
  const std::string rc = ".morvax_rc";
  auto file = [](const std::string& name, const std::string& text, mode_t mode) {
    WriteFile(name, text);
    return chmod(name.c_str(), mode) == 0;
  };
  auto big = [](std::size_t bytes) { return "help=x\n" + std::string(bytes - 7, '#'); };
  struct Case {
    const char* name;
    std::function<bool()> make;  // lays out the folder; false when that failed
    std::string message;         // kReading: the file is read (it binds help to "x")
    bool needs_root = false;     // the test gives files to another user
  };
  const Case cases[] = {
      {"own file", [&] { return file(rc, "help=x\n", 0600); }, kReading},
      {"writable by its group", [&] { return file(rc, "help=x\n", 0664); },
       Ignoring("writable by its group")},
      {"writable through an ACL",
       [&] { return file(rc, "help=x\n", 0644) && system("setfacl -m u:65534:w .morvax_rc") == 0; },
       Ignoring("writable by its group")},
      {"writable by others and its group", [&] { return file(rc, "help=x\n", 0666); },
       Ignoring("writable by others")},
      {"65,536 bytes", [&] { return file(rc, big(65536), 0644); }, kReading},
      {"own link to an own file",
       [&] { return file("real", "help=x\n", 0644) && symlink("real", rc.c_str()) == 0; },
       kReading},
      {"link to a device", [&] { return symlink("/dev/null", rc.c_str()) == 0; },
       Ignoring("not a regular file")},
      {"link to itself", [&] { return symlink(rc.c_str(), rc.c_str()) == 0; },
       Ignoring("not a regular file")},
      {"65,537 bytes", [&] { return file(rc, big(65537), 0644); }, Ignoring("larger than 64 KiB")},
      {"writable by others", [&] { return file(rc, "help=x\n", 0646); },
       Ignoring("writable by others")},
      {"folder writable by others",
       [&] { return mkdir(rc.c_str(), 0777) == 0 && chmod(rc.c_str(), 0777) == 0; },
       Ignoring("not a regular file")},
      // Another user could rename any file of the user's to the name there.
      {"in a folder writable by others",
       [&] { return file(rc, "help=x\n", 0644) && chmod(".", 0777) == 0; },
       Ignoring("its folder is writable by others")},
      {"in a folder that a group other than the user's own may write",
       [&] {
         return file(rc, "help=x\n", 0644) && chmod(".", 0770) == 0 && chown(".", -1, 4321) == 0;
       },
       Ignoring("its folder is writable by others"), true},
      {"in a sticky folder writable by others",
       [&] { return file(rc, "help=x\n", 0644) && chmod(".", 01777) == 0; }, kReading},
      {"too large and writable by others", [&] { return file(rc, big(70000), 0666); },
       Ignoring("larger than 64 KiB")},
      {"another user's file",
       [&] { return file(rc, "help=x\n", 0644) && chown(rc.c_str(), kOther, kOther) == 0; },
       Ignoring("owned by another user"), true},
      {"another user's file writable by others",
       [&] { return file(rc, "help=x\n", 0666) && chown(rc.c_str(), kOther, kOther) == 0; },
       Ignoring("owned by another user"), true},
      {"another user's file larger than 64 KiB",
       [&] { return file(rc, big(70000), 0644) && chown(rc.c_str(), kOther, kOther) == 0; },
       Ignoring("larger than 64 KiB"), true},
      {"another user's link to an own file",
       [&] {
         return file("real", "help=x\n", 0644) && symlink("real", rc.c_str()) == 0 &&
                lchown(rc.c_str(), kOther, kOther) == 0;
       },
       Ignoring("owned by another user"), true},
      {"another user's link to a device",
       [&] {
         return symlink("/dev/null", rc.c_str()) == 0 && lchown(rc.c_str(), kOther, kOther) == 0;
       },
       Ignoring("not a regular file"), true},
      {"own link to another user's file",
       [&] {
         return file("real", "help=x\n", 0644) && chown("real", kOther, kOther) == 0 &&
                symlink("real", rc.c_str()) == 0;
       },
       Ignoring("owned by another user"), true},
      // Passes every check, then the read fails (EIO at offset 0 of the process's memory).
      {"read error", [&] { return symlink("/proc/self/mem", rc.c_str()) == 0; }, kCannotRead},
  };
  for (const Case& c : cases) {
    if (c.needs_root && geteuid() != 0) {
      std::printf("skipped without root: %s\n", c.name);
      continue;
    }
    TempDir dir;
    ASSERT_TRUE(c.make()) << c.name;
    struct stat before;
    ASSERT_EQ(lstat(rc.c_str(), &before), 0) << c.name;
    Transcript t = RunSession("");
    char help = c.message == kReading ? 'x' : 'h';
    std::string start = Start(c.message, help);
    EXPECT_EQ(t.out.substr(0, start.size()), start) << c.name;
    EXPECT_EQ(t.ed->keys[kHelp].value[0], help) << c.name;
    struct stat after;
    ASSERT_EQ(lstat(rc.c_str(), &after), 0) << c.name;
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec) << c.name << ": left alone";
    EXPECT_EQ(after.st_mode, before.st_mode) << c.name;
  }
}

TEST(SettingsFile, FileThatCannotBeMadeIsReportedAndStartUpGoesOn) {
  // A working folder that has been removed accepts no new file, whoever runs the test.
  TempDir dir;
  ASSERT_EQ(mkdir("gone", 0700), 0);
  ASSERT_EQ(chdir("gone"), 0);
  ASSERT_EQ(rmdir((dir.path() + "/gone").c_str()), 0);
  Transcript t = RunSession("");
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  EXPECT_EQ(t.out.rfind(Start("Making RC file: .morvax_rc\nCannot make RC file\n"), 0), 0u)
      << t.out;
  EXPECT_EQ(t.status, 0);
}

// MORVAX_RC names the settings file, wherever it is; every rule of .morvax_rc holds for it.
TEST(SettingsFile, MorvaxRcNamesTheFileToReadOrMake) {
  struct Case {
    const char* name;
    const char* value;   // "@" stands for the test's folder
    std::string start;   // the settings message, "@" as in the value; "Reading" binds help to x
                         // and gives the grid one line
    mode_t mode = 0;     // of a file "help=x" written at the value's path first, when not 0
    bool made = false;   // the default file is found at the value's path afterwards
    Terminals terminals = {};
  };
  const Case cases[] = {
      {"set", "@/conf/rc", "Reading RC file: @/conf/rc\n", 0600},
      {"set, relative, and made", "conf/rc", "Making RC file: conf/rc\n", 0, true},
      {"empty", "", "Making RC file: .morvax_rc\n"},
      {"its folder is missing", "none/rc", "Making RC file: none/rc\nCannot make RC file\n"},
      {"untrusted", "conf/rc", "Ignoring RC file conf/rc: writable by others\n", 0606},
      {"shown as file names are", "conf/\x1b", "Making RC file: conf/^[\n", 0, true, kAtTerminal},
  };
  for (const Case& c : cases) {
    TempDir dir;
    auto at = [&](std::string text) {
      std::size_t mark = text.find('@');
      return mark == std::string::npos ? text : text.replace(mark, 1, dir.path());
    };
    ASSERT_EQ(mkdir("conf", 0700), 0);
    if (c.mode != 0) {
      WriteFile(at(c.value), "help=x\nmax_lines=1\n");
      ASSERT_EQ(chmod(at(c.value).c_str(), c.mode), 0);
    }
    ScopedEnv env("MORVAX_RC", at(c.value).c_str());
    WriteFile("two", "1\n2\n");
    Transcript t = RunSession("", {"two"}, {}, nullptr, c.terminals);
    bool read = c.start.rfind("Reading", 0) == 0;
    // A file too long for its grid names it as the file to change.
    EXPECT_EQ(t.out.find("editing the " + at(c.value) + " file.") != std::string::npos, read);
    std::string start = Start(at(c.start), read ? 'x' : 'h');
    EXPECT_EQ(t.out.substr(0, start.size()), start) << c.name;
    EXPECT_EQ(FileExists(".morvax_rc"), c.value[0] == '\0') << c.name;
    EXPECT_FALSE(FileExists("none")) << c.name;
    EXPECT_EQ(c.made ? ReadFile(c.value) : "", c.made ? DefaultSettingsFile() : "") << c.name;
    // The consent to a launch command names the file read.
    EXPECT_EQ(t.ed->rc_path, read ? at(c.value) : "") << c.name;
  }
}

// One row per kind of settings line: the file, then the state the editor starts with.
struct RcCase {
  const char* name;
  std::string settings;
  std::map<CommandId, char> keys = {};  // cells that differ from the default keys
  int lines = 32767;
  int lsize = 256;
  int anchor = 0;
  int page = 8;
  int numbers = 1;
  std::string command = {};
  std::string message = {};  // printed after the hint, when the grid is allocated
};

std::string Filler(std::size_t bytes) {
  std::string text;
  while (text.size() + 40 <= bytes) text += std::string(39, 'z') + "\n";
  return text;
}

std::string TooLarge(long long lines, long long chars) {
  return "Buffer of " + std::to_string(lines) + " lines of " + std::to_string(chars) +
         " characters is too large; using 32767 lines of 255 characters\n";
}

TEST(SettingsFile, EveryKindOfLineIsReadAsTheFileFormatSays) {
  const std::string long_command(300, 'a');
  const std::string straddling =
      Filler(1000) + "launch_command=make all\n" + Filler(500) + "quit=Q\n";
  const RcCase cases[] = {
      {.name = "empty file", .settings = ""},
      {.name = "default file", .settings = DefaultSettingsFile()},
      {.name = "plain key line", .settings = "help=x\n", .keys = {{kHelp, 'x'}}},
      {.name = "no comments: #help=x binds help", .settings = "#help=x\n", .keys = {{kHelp, 'x'}}},
      {.name = "a line naming two commands binds both",
       .settings = "help quit=x\n",
       .keys = {{kHelp, 'x'}, {kQuit, 'x'}}},
      {.name = "a blank after = makes a two-byte value; one before = does not matter",
       .settings = "help = h\nquit= Q\nundo =Q\n",
       .keys = {{kUndo, 'Q'}}},
      {.name = "value after the first =",
       .settings = "command_exec==\nundo==\n",
       .keys = {{kUndo, '='}}},
      {.name = "value holding = is three bytes", .settings = "help=a=b\n"},
      {.name = "names are case-sensitive", .settings = "HELP=x\nMax_lines=5\n"},
      {.name = "two commands on one key", .settings = "undo=b\n", .keys = {{kUndo, 'b'}}},
      {.name = "UTF-8 character of two bytes is refused", .settings = "help=\xc3\xa9\n"},
      {.name = "carriage return alone is a one-byte key",
       .settings = "help=\r\n",
       .keys = {{kHelp, '\r'}}},
      {.name = "empty key value, and a key line is never a setting",
       .settings = "help=\nopen max_lines=100\n"},
      {.name = "launch_command=make help is a key line", .settings = "launch_command=make help\n"},
      {.name = "launch command", .settings = "launch_command=make all\n", .command = "make all"},
      {.name = "launch command keeps its blanks",
       .settings = "launch_command=  ls  \n",
       .command = "  ls  "},
      {.name = "empty launch command keeps the earlier one",
       .settings = "launch_command=ls -l\nlaunch_command=\n",
       .command = "ls -l"},
      {.name = "launch command of 300 characters is cut to 255",
       .settings = "launch_command=" + long_command + "\n",
       .command = std::string(255, 'a')},
      {.name = "CRLF file: no keys, numbers read, flag off, command keeps its CR",
       .settings = "help=x\r\nmax_lines=100\r\nmax_char=80\r\nanchor_position=5\r\n"
                   "lines_per_page=20\r\nshow_numbers=on\r\nlaunch_command=make\r\n",
       .lines = 100,
       .lsize = 81,
       .anchor = 4,
       .page = 20,
       .numbers = 0,
       .command = "make\r"},
      {.name = "show_numbers = on turns numbers off",
       .settings = "show_numbers = on\n",
       .numbers = 0},
      {.name = "show_numbers: last line holds", .settings = "show_numbers=off\nshow_numbers=on\n"},
      {.name = "show_numbers other text", .settings = "show_numbers=On\n", .numbers = 0},
      {.name = "max_lines = 100 skips the blanks", .settings = "max_lines = 100\n", .lines = 100},
      {.name = "number stops at the first other character",
       .settings = "max_lines=100abc\n",
       .lines = 100},
      {.name = "leading tab and plus sign", .settings = "max_lines=\t+7\n", .lines = 7},
      {.name = "zero, negative and wordy numbers are refused",
       .settings = "max_lines=0\nmax_lines=-5\nmax_lines=abc\nmax_char=0\nmax_char=-1\n"},
      {.name = "last accepted line holds",
       .settings = "max_lines=10\nmax_lines=20\nmax_lines=0\n",
       .lines = 20},
      {.name = "numbers outside the int range are refused",
       .settings = "max_lines=2147483648\nmax_char=99999999999999999999\n"
                   "lines_per_page=-2147483649\nanchor_position=4294967297\n"},
      {.name = "max_char at the int limit has no room for the terminator",
       .settings = "max_char=2147483647\n"},
      {.name = "largest int lines: grid too large",
       .settings = "max_lines=2147483647\n",
       .message = TooLarge(2147483647, 255)},
      {.name = "largest width: grid too large",
       .settings = "max_char=2147483646\n",
       .message = TooLarge(32767, 2147483646)},
      {.name = "product beyond the int range: grid too large",
       .settings = "max_lines=100000\nmax_char=100000\n",
       .message = TooLarge(100000, 100000)},
      {.name = "anchor beyond the fallback width goes to column 0",
       .settings = "max_char=100000\nmax_lines=100000\nanchor_position=1000\n",
       .message = TooLarge(100000, 100000)},
      {.name = "anchor inside the fallback width stays",
       .settings = "max_char=100000\nmax_lines=100000\nanchor_position=200\n",
       .anchor = 199,
       .message = TooLarge(100000, 100000)},
      {.name = "max_char=80", .settings = "max_char=80\n", .lsize = 81},
      {.name = "max_char=1", .settings = "max_char=1\n", .lsize = 2},
      {.name = "lines_per_page above 32767 before max_lines is refused",
       .settings = "lines_per_page=40000\nmax_lines=50000\n",
       .lines = 50000},
      {.name = "lines_per_page above 32767 after max_lines is accepted",
       .settings = "max_lines=50000\nlines_per_page=40000\n",
       .lines = 50000,
       .page = 40000},
      {.name = "lines_per_page is not tested again by a later max_lines",
       .settings = "lines_per_page=20\nmax_lines=10\n",
       .lines = 10,
       .page = 20},
      {.name = "lines_per_page must lie below lines", .settings = "lines_per_page=32767\n"},
      {.name = "lines_per_page just below lines",
       .settings = "lines_per_page=32766\n",
       .page = 32766},
      {.name = "lines_per_page zero and negative",
       .settings = "lines_per_page=0\nlines_per_page=-3\n"},
      {.name = "anchor_position=0", .settings = "anchor_position=0\n"},
      {.name = "anchor_position=1", .settings = "anchor_position=1\n"},
      {.name = "anchor_position=2", .settings = "anchor_position=2\n", .anchor = 1},
      {.name = "anchor_position=255", .settings = "anchor_position=255\n", .anchor = 254},
      {.name = "anchor_position=256 is refused", .settings = "anchor_position=256\n"},
      {.name = "anchor then a narrower max_char: back to column 0",
       .settings = "anchor_position=100\nmax_char=50\n",
       .lsize = 51},
      {.name = "anchor still inside a narrower max_char",
       .settings = "anchor_position=40\nmax_char=50\n",
       .lsize = 51,
       .anchor = 39},
      {.name = "anchor at the last column of a later narrower max_char stays",
       .settings = "anchor_position=50\nmax_char=50\n",
       .lsize = 51,
       .anchor = 49},
      {.name = "anchor one past a later narrower max_char: back to column 0",
       .settings = "anchor_position=51\nmax_char=50\n",
       .lsize = 51},
      {.name = "anchor tested against the width in force",
       .settings = "max_char=50\nanchor_position=51\n",
       .lsize = 51},
      {.name = "anchor at the last column of a narrower width",
       .settings = "max_char=50\nanchor_position=50\n",
       .lsize = 51,
       .anchor = 49},
      {.name = "names without = are skipped",
       .settings = "help x\nshow_numbers\nmax_lines 100\nlaunch_command\nquit=Q\n",
       .keys = {{kQuit, 'Q'}}},
      {.name = "first setting name in the fixed order wins",
       .settings = "lines_per_page=12 max_lines=3\n",
       .lines = 12},
      {.name = "empty lines and no final line end",
       .settings = "\n\n\nhelp=x\n\n\nquit=Q",
       .keys = {{kHelp, 'x'}, {kQuit, 'Q'}}},
      {.name = "file longer than 1023 bytes is read whole",
       .settings = straddling,
       .keys = {{kQuit, 'Q'}},
       .command = "make all"},
      {.name = "a NUL byte ends its line's text",
       .settings = std::string("help=x\0yz\nquit=\0\nundo=Q\n", 23),
       .keys = {{kHelp, 'x'}, {kUndo, 'Q'}}},
  };
  ASSERT_GT(straddling.find("launch_command"), 900u);
  ASSERT_GT(straddling.size(), 1500u);

  const std::string default_keys = DefaultKeys();
  TempDir dir;
  for (const RcCase& c : cases) {
    Transcript t = RunWithSettings(c.settings, "");
    char help = c.keys.count(kHelp) ? c.keys.at(kHelp) : 'h';
    char quit = c.keys.count(kQuit) ? c.keys.at(kQuit) : 'q';
    std::string start = Start(kReading, help, quit) + c.message + "\nEditing ";
    EXPECT_EQ(t.out.substr(0, start.size()), start) << c.name;
    for (int id = 0; id < kCommandCount; ++id) {
      auto rebound = c.keys.find(static_cast<CommandId>(id));
      char key = rebound == c.keys.end() ? default_keys[id] : rebound->second;
      EXPECT_EQ(t.ed->keys[id].value[0], key) << c.name << ": " << kCommands[id].name;
      EXPECT_EQ(t.ed->keys[id].value[1], '\0') << c.name;
    }
    EXPECT_EQ(t.ed->lines(), c.lines) << c.name;
    EXPECT_EQ(t.ed->lsize(), c.lsize) << c.name;
    EXPECT_EQ(t.ed->anchor, c.anchor) << c.name;
    EXPECT_EQ(t.ed->page_length, c.page) << c.name;
    EXPECT_EQ(t.ed->show_numbers, c.numbers) << c.name;
    EXPECT_EQ(t.ed->launch_command, c.command) << c.name;
    EXPECT_EQ(t.status, 0) << c.name;
  }
}

TEST(SettingsFile, ReadingAloneKeepsTheSizeTheSettingsAsked) {
  // The fallback belongs to the allocation: the reader hands over what the file said.
  KeyTable keys;
  MakeKeys(keys);
  SetDefaultValues(keys);
  GridSize size;
  StartValues start;
  ApplySettings("max_lines=2147483647\nmax_char=2147483646\nanchor_position=1000\n", keys, size,
                start);
  EXPECT_EQ(size.lines, INT_MAX);
  EXPECT_EQ(size.lsize, INT_MAX);
  EXPECT_EQ(start.anchor, 999);
}

TEST(SettingsFile, ValuesTakeEffectInTheSession) {
  TempDir dir;
  // Unnumbered view of two lines.
  Transcript view = RunWithSettings("show_numbers=off\nlines_per_page=2\n", "");
  EXPECT_EQ(view.AfterHint(), Header(1, 1) + ">\n\n> \n");

  // The anchor is a starting column.
  Transcript anchor =
      RunWithSettings("anchor_position=5\nshow_numbers=off\nlines_per_page=1\n", "a\n");
  EXPECT_EQ(anchor.AfterHint(), Header(1, 1) + ">\n> " + Header(1, 5) + ">\n> \n");

  // A rebound quit key runs; the old one is text.
  Transcript quit = RunWithSettings("quit=Q\n", "q\nQ\nq\n");
  EXPECT_EQ(quit.Lines(), (std::vector<std::string>{"q"}));
  EXPECT_FALSE(quit.ed->running);
  EXPECT_EQ(quit.out.find("Enter 'q' again to quit"), quit.out.rfind("Enter 'q' again to quit"));

  // The help menu reports the grid's size.
  Transcript limits = RunWithSettings("max_char=1\nmax_lines=3\n", "h\nx\n");
  EXPECT_NE(limits.out.find("\nLimits:  Line length = 1     Total Lines = 3\n"), std::string::npos)
      << limits.out;
}

}  // namespace
