// Loading and saving documents through whole sessions: the load messages, the splitting of
// files into lines, the partial-load question, the `open` and `save_prompt` dialogues, the
// written bytes, and the command-line argument.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/messages.h"
#include "doc/load.h"
#include "doc/save.h"
#include "session.h"
#include "support.h"

namespace {

using namespace std::string_literals;
using Lines = std::vector<std::string>;
using Files = std::map<std::string, std::string>;

const std::string kOpenDialogue =
    "Enter a filename to open a new file and discard the buffer in memory\n"
    "Enter 's' to first save the current buffer in memory\n"
    "Enter 'x' to not open a file and return\n";

const std::string kPartialQuestion =
    "The unloaded data will be lost if you save to the same filename!\n"
    "Do you wish to continue (Y,n)?\n"
    "If not, restart with more lines by editing the .morvax_rc file.\n";

// What was printed between the views: chunk 0 is everything after the start-up hint up to
// the first view, chunk k what followed the k-th view's prompt. The documents in these tests
// never hold "> ", so the first "> " after a header is the prompt.
std::vector<std::string> Chunks(const Transcript& t) {
  std::string s = t.AfterHint();
  std::vector<std::string> chunks;
  std::size_t from = 0;
  for (;;) {
    std::size_t view = s.find("\nEditing ", from);
    chunks.push_back(s.substr(from, view == std::string::npos ? std::string::npos : view - from));
    if (view == std::string::npos) break;
    std::size_t prompt = s.find("> ", view);
    if (prompt == std::string::npos) break;
    from = prompt + 2;
  }
  return chunks;
}

std::string Chunk(const Transcript& t, std::size_t k) {
  std::vector<std::string> chunks = Chunks(t);
  return k < chunks.size() ? chunks[k] : "<no chunk " + std::to_string(k) + ">";
}

std::string Grid(int lines, int max_char = 255) {
  return "max_lines=" + std::to_string(lines) + "\nmax_char=" + std::to_string(max_char) + "\n";
}

void WriteFiles(const Files& files) {
  for (const auto& [name, bytes] : files) WriteFile(name, bytes);
}

// ---------------------------------------------------------------------------------------------
// Loading at start-up: messages byte for byte, and the lines that land in the slots.
// ---------------------------------------------------------------------------------------------

struct LoadCase {
  const char* name;
  std::string settings;
  std::string bytes;     // content of the file "f"
  std::string input;     // after start-up
  std::string messages;  // printed before the first view
  Lines lines;
  int status = 0;
};

TEST(Load, FilesSplitIntoSlotsWithExactMessages) {
  const std::string l300(300, 'k');
  const std::string five = "l1\nl2\nl3\nl4\nl5\n";
  const std::string partial5 =
      "Opened f\nRead 15 bytes, 3 Lines Generated\n"
      "\nWarning!! Only 64.3 percent of the data was loaded!\n" +
      kPartialQuestion;
  const std::vector<LoadCase> cases = {
      {"three lines",
       "",
       "a\nb\nc\n",
       "",
       "Opened f\nRead 6 bytes, 3 Lines Generated\n",
       {"a", "b", "c"}},
      {"empty line kept between",
       "",
       "a\n\nb\n",
       "",
       "Opened f\nRead 5 bytes, 3 Lines Generated\n",
       {"a", "", "b"}},
      {"zero bytes", "", "", "", "Opened f\nRead 0 bytes, 0 Lines Generated\n", {}},
      {"a single newline", "", "\n", "", "Opened f\nRead 1 bytes, 0 Lines Generated\n", {}},
      {"300-character line is split",
       "",
       l300 + "\n",
       "",
       "Opened f\nRead 301 bytes, WARNING!  Line 1 is being split\n2 Lines Generated\n",
       {std::string(255, 'k'), std::string(45, 'k')}},
      {"255-character line is not split",
       "",
       std::string(255, 'k') + "\nz\n",
       "",
       "Opened f\nRead 258 bytes, 2 Lines Generated\n",
       {std::string(255, 'k'), "z"}},
      {"undo after a load changes nothing",
       "",
       "a\nb\n",
       "z\n",
       "Opened f\nRead 4 bytes, 2 Lines Generated\n",
       {"a", "b"}},
      // A NUL byte ends the text, and the load is then partial.
      {"NUL ends the text and asks",
       "",
       "ab\0cd\nef\n"s,
       "Y\n",
       "Opened f\nRead 9 bytes, 1 Lines Generated\n"
       "\nWarning!! Only 25.0 percent of the data was loaded!\n" +
           kPartialQuestion,
       {"ab"}},
      {"a NUL far into the file ends the text too",
       "",
       std::string(70, 'k') + "\n" + std::string(20, 'm') + "\0"s + std::string(100, 'z') + "\n",
       "Y\n",
       "Opened f\nRead 193 bytes, 2 Lines Generated\n"
       "\nWarning!! Only 47.4 percent of the data was loaded!\n" +
           kPartialQuestion,
       {std::string(70, 'k'), std::string(20, 'm')}},
      {"a full grid before the NUL",
       Grid(2),
       "l1\nl2\nl3\0x\n"s,
       "Y\n",
       "Opened f\nRead 11 bytes, 2 Lines Generated\n"
       "\nWarning!! Only 60.0 percent of the data was loaded!\n" +
           kPartialQuestion,
       {"l1", "l2"}},
      {"the newline after the grid's last line counts as loaded",
       Grid(1),
       "abc\n\n\0"s,
       "Y\n",
       "Opened f\nRead 6 bytes, 1 Lines Generated\n"
       "\nWarning!! Only 66.7 percent of the data was loaded!\n" +
           kPartialQuestion,
       {"abc"}},
      {"NUL declined at start-up ends the program",
       "",
       "ab\0"s,
       "n\n",
       "Opened f\nRead 3 bytes, 1 Lines Generated\n"
       "\nWarning!! Only 66.7 percent of the data was loaded!\n" +
           kPartialQuestion,
       {},
       1},
      {"carriage returns stay",
       "",
       "a\r\nb\r\n",
       "",
       "Opened f\nRead 6 bytes, 2 Lines Generated\n",
       {"a\r", "b\r"}},
      // Settled: a last byte that is no newline is kept, not dropped.
      {"last byte without newline is kept",
       "",
       "a\nbc",
       "",
       "Opened f\nRead 4 bytes, 2 Lines Generated\n",
       {"a", "bc"}},
      {"single character without newline",
       "",
       "z",
       "",
       "Opened f\nRead 1 bytes, 1 Lines Generated\n",
       {"z"}},
      {"unended line still splits",
       Grid(100, 3),
       "abcdefg",
       "",
       "Opened f\nRead 7 bytes, WARNING!  Line 1 is being split\n"
       "WARNING!  Line 2 is being split\n3 Lines Generated\n",
       {"abc", "def", "g"}},
      {"warnings count earlier pieces",
       Grid(100, 3),
       "abcdefgh\nxyzw\n",
       "",
       "Opened f\nRead 14 bytes, WARNING!  Line 1 is being split\n"
       "WARNING!  Line 2 is being split\nWARNING!  Line 4 is being split\n5 Lines Generated\n",
       {"abc", "def", "gh", "xyz", "w"}},
      {"one-character slots",
       Grid(100, 1),
       "ab\nc\n",
       "",
       "Opened f\nRead 5 bytes, WARNING!  Line 1 is being split\n3 Lines Generated\n",
       {"a", "b", "c"}},
      {"five lines into three, Y", Grid(3), five, "Y\n", partial5, {"l1", "l2", "l3"}},
      {"five lines into three, n", Grid(3), five, "n\n", partial5, {}, 1},
      {"five lines into three, y", Grid(3), five, "y\n", partial5, {}, 1},
      {"five lines into three, empty", Grid(3), five, "\n", partial5, {}, 1},
      {"five lines into three, Yes", Grid(3), five, "Yes\n", partial5, {}, 1},
      {"five lines into three, input ends", Grid(3), five, "", partial5 + "\n", {}, 1},
      {"exactly three lines",
       Grid(3),
       "l1\nl2\nl3\n",
       "",
       "Opened f\nRead 9 bytes, 3 Lines Generated\n",
       {"l1", "l2", "l3"}},
      {"three lines and an empty one",
       Grid(3),
       "l1\nl2\nl3\n\n",
       "",
       "Opened f\nRead 10 bytes, 3 Lines Generated\n",
       {"l1", "l2", "l3"}},
      {"fourth line of one character",
       Grid(3),
       "l1\nl2\nl3\nx\n",
       "Y\n",
       "Opened f\nRead 11 bytes, 3 Lines Generated\n"
       "\nWarning!! Only 90.0 percent of the data was loaded!\n" +
           kPartialQuestion,
       {"l1", "l2", "l3"}},
      {"unended fourth line",
       Grid(3),
       "l1\nl2\nl3\nxy",
       "Y\n",
       "Opened f\nRead 11 bytes, 3 Lines Generated\n"
       "\nWarning!! Only 81.8 percent of the data was loaded!\n" +
           kPartialQuestion,
       {"l1", "l2", "l3"}},
      // A split last line: the byte that would begin the next line is the first one lost.
      {"grid fills on a split",
       Grid(2, 3),
       "abcdefg",
       "Y\n",
       "Opened f\nRead 7 bytes, WARNING!  Line 1 is being split\n"
       "WARNING!  Line 2 is being split\n2 Lines Generated\n"
       "\nWarning!! Only 85.7 percent of the data was loaded!\n" +
           kPartialQuestion,
       {"abc", "def"}},
      {"grid fills exactly on an unended line",
       Grid(2, 3),
       "abcdef",
       "",
       "Opened f\nRead 6 bytes, WARNING!  Line 1 is being split\n2 Lines Generated\n",
       {"abc", "def"}},
  };
  for (const LoadCase& c : cases) {
    TempDir dir;
    WriteFile("f", c.bytes);
    Transcript t = RunWithSettings(c.settings, c.input, {"f"});
    EXPECT_EQ(Chunk(t, 0), c.messages) << c.name;
    EXPECT_EQ(t.status, c.status) << c.name;
    if (c.status == 0) {
      EXPECT_EQ(t.Lines(), c.lines) << c.name;
      EXPECT_TRUE(t.ed->doc.CheckInvariant()) << c.name;
      EXPECT_STREQ(t.ed->current_name, "f") << c.name;
    } else {
      // The program ends at the question: no view follows.
      EXPECT_EQ(t.AfterHint(), c.messages) << c.name;
    }
  }
}

// What a load of `bytes` into a grid of `lines` lines of `room` characters must give, found
// a byte at a time: the lines, the numbers of the split ones, and the bytes of the text (the
// file less its final newline) that the lines cover. A NUL byte ends the text.
struct ExpectedLoad {
  Lines lines;
  std::vector<int> splits;
  std::size_t loaded = 0;
  std::size_t uncut = 0;
};

ExpectedLoad ExpectLoad(std::string bytes, std::size_t lines, std::size_t room) {
  ExpectedLoad e;
  if (!bytes.empty() && bytes.back() == '\n') bytes.pop_back();
  e.uncut = bytes.size();
  std::string text = bytes.substr(0, bytes.find('\0'));
  std::string line;
  std::size_t i = 0;
  for (; i < text.size() && e.lines.size() < lines; ++i) {
    if (text[i] == '\n') {
      e.lines.push_back(std::exchange(line, ""));
      continue;
    }
    if (line.size() == room) {
      e.splits.push_back(static_cast<int>(e.lines.size()) + 1);
      e.lines.push_back(std::exchange(line, ""));
      if (e.lines.size() == lines) break;  // the byte belongs to no line
    }
    line += text[i];
  }
  if (!line.empty()) e.lines.push_back(line);
  e.loaded = i;
  return e;
}

// A file of a few lines built from the bytes that end or split lines: newlines, CR LF, NUL
// bytes (the first byte, right after a newline, at the edges of a 64-byte block, anywhere),
// lines longer than the grid's width, and a last byte that is no newline.
std::string RandomFile(std::mt19937& rng) {
  auto below = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  std::string bytes;
  int size = below(160);
  while (static_cast<int>(bytes.size()) < size) {
    int pick = below(20);
    if (pick < 5) {
      bytes += '\n';
    } else if (pick < 7) {
      bytes += "\r\n";
    } else if (pick == 7) {
      bytes += std::string(static_cast<std::size_t>(below(20)), 'w');
    } else {
      bytes += static_cast<char>('a' + below(4));
    }
  }
  if (below(3) > 0) bytes += '\n';
  if (below(2) == 0) {
    const int places[] = {0, 63, 64, 65, 127, 128, below(size + 1)};
    std::size_t at = static_cast<std::size_t>(places[below(7)]);
    if (below(3) == 0) at = bytes.find('\n', at) + 1;  // right after a newline
    if (at <= bytes.size()) bytes.insert(at, 1, '\0');
  }
  return bytes;
}

// Random files checked against what a load must give: the printed count is the number of
// lines the document holds, the messages are the load's, and a save writes back exactly the
// loaded lines.
TEST(Load, RandomFilesGiveTheCountTheDocumentHoldsAndSaveBackTheirLines) {
  std::mt19937 rng(36);
  int failures = 0;
  // Thousands of saves: in memory where a file system there can be had, as flushing to a disk
  // takes long.
  struct stat shm;
  const char* memory =
      stat("/dev/shm", &shm) == 0 && access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  for (int n = 0; n < 3000 && failures < 5; ++n) {
    const std::string bytes = RandomFile(rng);
    const int lines = rng() % 2 == 0 ? 1 + static_cast<int>(rng() % 8) : 200;
    const int room = rng() % 2 == 0 ? 1 + static_cast<int>(rng() % 9) : 255;
    ExpectedLoad e =
        ExpectLoad(bytes, static_cast<std::size_t>(lines), static_cast<std::size_t>(room));
    bool partial = e.loaded < e.uncut;
    std::string messages = "Opened f\nRead " + std::to_string(bytes.size()) + " bytes, ";
    for (int split : e.splits) {
      messages += "WARNING!  Line " + std::to_string(split) + " is being split\n";
    }
    messages += std::to_string(e.lines.size()) + " Lines Generated\n";
    if (partial) {
      char share[64];
      std::snprintf(share, sizeof share, "\nWarning!! Only %.1f percent of the data was loaded!\n",
                    static_cast<double>(static_cast<float>(static_cast<double>(e.loaded) * 100.0 /
                                                           static_cast<double>(e.uncut))));
      messages += share + kPartialQuestion;
    }
    Lines kept = e.lines;
    while (!kept.empty() && kept.back().empty()) kept.pop_back();
    std::string saved;
    for (const std::string& line : kept) saved += line + "\n";
    if (kept.empty()) saved = "\n";

    TempDir dir(memory);
    WriteFile("f", bytes);
    Transcript t = RunWithSettings(Grid(lines, room), partial ? "Y\ns\ng\n" : "s\ng\n", {"f"});
    Lines held;
    for (int i = 0; i < lines; ++i) held.push_back(t.Line(i));
    Lines expected = e.lines;
    expected.resize(static_cast<std::size_t>(lines));
    bool right = Chunk(t, 0) == messages && held == expected && ReadFile("g") == saved &&
                 t.ed->doc.CheckInvariant();
    EXPECT_TRUE(right) << "file " << testing::PrintToString(bytes) << " in " << lines
                       << " lines of " << room << "\nprinted: " << Chunk(t, 0)
                       << "\nexpected: " << messages << "\nheld: " << testing::PrintToString(held)
                       << "\nsaved: " << testing::PrintToString(ReadFile("g"));
    failures += right ? 0 : 1;
  }
}

TEST(Load, MissingFileGivesAnEmptyDocumentUnderItsName) {
  TempDir dir;
  Transcript t = RunWithSettings("", "new text\nS\n", {"new.txt"});
  EXPECT_EQ(Chunk(t, 0), "File new.txt not found!\n");
  EXPECT_STREQ(t.ed->current_name, "new.txt");
  EXPECT_EQ(Chunk(t, 2), "Saved to new.txt\n");
  EXPECT_EQ(ReadFile("new.txt"), "new text\n");
}

TEST(Load, OpenReplacesEveryOldByteAndKeepsTheRestOfTheSession) {
  TempDir dir;
  WriteFile("ten", "a long first line\nsecond\n3\n4\n5\n6\n7\n8\n9\nthe tenth line\n");
  WriteFile("two", "xy\nz\n");
  // Cursor to line 5, column 3, then open the short file over the long one.
  Transcript t = RunWithSettings("", "g\n5\nG\n3\nO\ntwo\n", {"ten"});
  EXPECT_EQ(t.Lines(), (Lines{"xy", "z"}));
  EXPECT_TRUE(t.ed->doc.CheckInvariant());
  EXPECT_EQ(t.ed->cursor.line, 4);
  EXPECT_EQ(t.ed->cursor.column, 2);
  EXPECT_EQ(Chunk(t, 3), kOpenDialogue + "Opened two\nRead 5 bytes, 2 Lines Generated\n");
  EXPECT_STREQ(t.ed->current_name, "two");
}

// What earlier sessions left: after each load the leftovers of saves of that file, at start-up
// the recovery files. "$TMP" stands for the test's folder, "S/" for the state folder's backups.
TEST(Load, WhatEarlierSessionsLeftIsNamed) {
  struct Case {
    const char* name;
    std::string empty;  // files made empty, separated by blanks ("sub/" and "S/" are there)
    Files files;
    std::vector<std::string> args;
    std::string input;
    std::string said;         // the chunk that names them: 0 at start-up, else 1
    std::string others = "";  // "UID:FILE ...": files (made empty when missing) given to UID,
                              // by root only (the row is left out otherwise)
    int deep = 0;  // the session runs this many folders of 200 bytes down (past PATH_MAX)
  };
  const std::string left = "An earlier save of ";
  const std::string hup = "Unsaved text from an earlier session is in morvax.hup";
  const std::string hidden = "Unsaved text from an earlier session is in .morvax.hup-";
  const std::string n250(250, 'n');
  const std::vector<Case> cases = {
      {"beside the file and in the state folder, in byte order, others not",
       "sub/f.morvax-backup-Ab12Cd sub/.f.morvax-save-zz99ZZ sub/f.morvax-backup-Ab12C "
       "sub/f.morvax-backup-Ab12C- sub/g.morvax-backup-Ab12Cd sub/f.morvax-save-zz99ZZ "
       "S/f.morvax-backup-QQ11qq S/f.morvax-backup-RR11rr S/f.morvax-backup-SS11ss",
       {{"sub/f", "x\n"},
        {"S/f.morvax-backup-QQ11qq.path", "$TMP/sub/f\n"},
        {"S/f.morvax-backup-RR11rr.path", "$TMP/sub/ff\n"},
        {"S/f.morvax-backup-SS11ss.path", "$TMP/sub/f"}},
       {"sub/f"},
       "",
       "Opened sub/f\nRead 2 bytes, 1 Lines Generated\n" + left +
           "sub/f left $TMP/S/f.morvax-backup-QQ11qq\n" + left +
           "sub/f left sub/.f.morvax-save-zz99ZZ\n" + left +
           "sub/f left sub/f.morvax-backup-Ab12Cd\n"},
      {"through a link to a missing file: absolute paths",
       "sub/new.morvax-backup-Ab12Cd",
       {},
       {"lnk"},
       "",
       "File lnk not found!\nlnk is a link to $TMP/sub/new\n" + left +
           "lnk left $TMP/sub/new.morvax-backup-Ab12Cd\n"},
      {"open, a long name cut as a save cuts it",
       n250.substr(0, 234) + ".morvax-backup-Ab12Cd ." + n250.substr(0, 235) +
           ".morvax-save-zz99ZZ " + n250 + ".morvax-backup-Ab12Cd",
       {},
       {},
       "O\n" + n250 + "\n",
       kOpenDialogue + "File " + n250 + " not found!\n" + left + n250 + " left ." +
           n250.substr(0, 235) + ".morvax-save-zz99ZZ\n" + left + n250 + " left " +
           n250.substr(0, 234) + ".morvax-backup-Ab12Cd\n"},
      {"five recovery files",
       "morvax.hup.1 morvax.hup.2 morvax.hup.3 morvax.hup.7 morvax.hup.99 morvax.hup.100 "
       "morvax.hup.0",
       {},
       {},
       "",
       hup + ".1\n" + hup + ".2\n" + hup + ".3\n" + hup + ".7\n" + hup + ".99\n"},
      {"six and more",
       "morvax.hup morvax.hup.1 morvax.hup.2 morvax.hup.3 morvax.hup.4 morvax.hup.99",
       {},
       {},
       "",
       hup + "\n" + hup + ".1\n" + hup + ".2\n" + hup + ".3\n" + hup + ".4\nand 1 more\n"},
      {"five at most of each, the hidden recovery files after the others, leftovers in order "
       "of their paths (beside the file first), not as shown",
       ".morvax.hup-Zz99zz .morvax.hup-Yb12Cd .morvax.hup-Ab12C morvax.hup-Ab12Cd morvax.hup.3 "
       ".morvax.hup-Qm12Cd .morvax.hup-Ab12Cd0 .morvax.hup-Mm12Cd .morvax.hup-Ab12-d "
       ".morvax.hup-Cc12Cd .morvax.hup-Ab12Cd f.morvax-backup-Ab12Cd f.morvax-backup-Ab12Ce "
       "f.morvax-backup-Ab12Cf .f.morvax-save-zz99ZZ S/f.morvax-backup-QQ11qq "
       "S/f.morvax-backup-RR11rr",
       {{"f", "x\n"},
        {"S/f.morvax-backup-QQ11qq.path", "$TMP/f\n"},
        {"S/f.morvax-backup-RR11rr.path", "$TMP/f\n"}},
       {"f"},
       "",
       hup + ".3\n" + hidden + "Ab12Cd\n" + hidden + "Cc12Cd\n" + hidden + "Mm12Cd\n" + hidden +
           "Qm12Cd\nand 2 more\nOpened f\nRead 2 bytes, 1 Lines Generated\n" + left +
           "f left .f.morvax-save-zz99ZZ\n" + left + "f left f.morvax-backup-Ab12Cd\n" + left +
           "f left f.morvax-backup-Ab12Ce\n" + left + "f left f.morvax-backup-Ab12Cf\n" + left +
           "f left $TMP/S/f.morvax-backup-QQ11qq\nand 1 more\n"},
      {"root's own and the file owner's, not a third user's",
       "sub/.f.morvax-save-zz99ZZ S/f.morvax-backup-QQ11qq .morvax.hup-Ab12Cd",
       {{"sub/f", "x\n"},
        {"S/f.morvax-backup-QQ11qq.path", "$TMP/sub/f\n"},
        {"S/f.morvax-backup-RR11rr.path", "$TMP/sub/f\n"}},
       {"sub/f"},
       "",
       hidden + "Ab12Cd\nOpened sub/f\nRead 2 bytes, 1 Lines Generated\n" + left +
           "sub/f left $TMP/S/f.morvax-backup-QQ11qq\n" + left +
           "sub/f left sub/.f.morvax-save-zz99ZZ\n" + left +
           "sub/f left sub/f.morvax-backup-Ab12Cd\n",
       "4242:sub/f 4242:sub/f.morvax-backup-Ab12Cd 4343:sub/f.morvax-backup-Pl12an "
       "4343:sub/.f.morvax-save-Pl12an 4343:S/f.morvax-backup-RR11rr 4343:.morvax.hup-Pl12an "
       "4242:.morvax.hup-Ot12er"},
      {"a folder whose path is longer than a path can be", "f.morvax-backup-Ab12Cd", {{"f", ""}},
       {"f"}, "", "Opened f\nRead 0 bytes, 0 Lines Generated\n" + left +
       "f left f.morvax-backup-Ab12Cd\n", "", 25},
  };
  for (const Case& c : cases) {
    if (!c.others.empty() && geteuid() != 0) continue;
    TempDir dir;
    for (int i = 0; i < c.deep; ++i) {
      ASSERT_TRUE(mkdir(n250.substr(0, 200).c_str(), 0700) == 0 && chdir(n250.c_str() + 50) == 0);
    }
    // The state folder's backups are reached through "S" too.
    ASSERT_EQ(mkdir("sub", 0755) | mkdir("state", 0700) | mkdir("state/morvax", 0700) |
                  mkdir("state/morvax/backup", 0700) | symlink("state/morvax/backup", "S") |
                  symlink("sub/new", "lnk"),
              0);
    auto expand = [&](std::string text) {
      for (std::size_t at; (at = text.find("$TMP/S/")) != std::string::npos;) {
        text.replace(at, 7, dir.path() + "/state/morvax/backup/");
      }
      for (std::size_t at; (at = text.find("$TMP")) != std::string::npos;) {
        text.replace(at, 4, dir.path());
      }
      return text;
    };
    std::istringstream empty(c.empty);
    for (std::string file; empty >> file;) WriteFile(file, "");
    for (const auto& [file, bytes] : c.files) WriteFile(file, expand(bytes));
    std::istringstream others(c.others);
    for (std::string other; others >> other;) {
      std::string file = other.substr(other.find(':') + 1);
      if (!FileExists(file)) WriteFile(file, "");
      uid_t uid = std::stoi(other);
      ASSERT_EQ(chown(file.c_str(), uid, uid), 0) << file;
    }
    Transcript t = RunWithSettings("", c.input, c.args);
    EXPECT_EQ(Chunk(t, c.input.empty() ? 0 : 1), expand(c.said)) << c.name;
  }
}

// ---------------------------------------------------------------------------------------------
// The `open` dialogue.
// ---------------------------------------------------------------------------------------------

struct OpenCase {
  const char* name;
  Files files;
  std::vector<std::string> args;
  std::string input;
  std::vector<std::string> chunks;  // from chunk 1 on: what follows each command
  Lines lines;
  std::string current_name;
  Files written = {};  // files expected afterwards with their content
};

TEST(Open, DialogueAnswers) {
  const Files g = {{"g", "from g\n"}};
  const std::vector<OpenCase> cases = {
      {"a name loads it",
       g,
       {},
       "O\ng\n",
       {kOpenDialogue + "Opened g\nRead 7 bytes, 1 Lines Generated\n", "\n"},
       {"from g"},
       "g"},
      // Settled: "x" keeps the current file name (a save_prompt chose "chosen").
      {"x keeps document and current name",
       g,
       {"g"},
       "s\nchosen\nO\nx\n",
       {"Enter a filename to save to, or 'x' to return\nSaved to chosen\n", kOpenDialogue, "\n"},
       {"from g"},
       "chosen",
       {{"chosen", "from g\n"}}},
      {"input end at the first prompt changes nothing",
       g,
       {"g"},
       "O\n",
       {kOpenDialogue, "\n"},
       {"from g"},
       "g"},
      {"empty answer is an empty name",
       {},
       {},
       "O\n\n",
       {kOpenDialogue + "File  not found!\n", "\n"},
       {},
       ""},
      {"upper-case X is a name",
       {},
       {},
       "O\nX\n",
       {kOpenDialogue + "File X not found!\n", "\n"},
       {},
       "X"},
      {"a missing name still becomes the current name",
       g,
       {"g"},
       "O\nnothing\n",
       {kOpenDialogue + "File nothing not found!\n", "\n"},
       {"from g"},
       "nothing"},
      {"s with a name saves then opens",
       g,
       {"g"},
       "changed\nO\ns\nh\n",
       {"", kOpenDialogue + "Saved to g\nNext, enter a new filename to open\nFile h not found!\n",
        "\n"},
       {"changed"},
       "h",
       {{"g", "changed\n"}}},
      {"s without a name asks for one",
       g,
       {},
       "typed\nO\ns\nsaved\ng\n",
       {"",
        kOpenDialogue +
            "Enter a filename to save to\nSaved to saved\n"
            "Next, enter a new filename to open\nOpened g\nRead 7 bytes, 1 Lines Generated\n",
        "\n"},
       {"from g"},
       "g",
       {{"saved", "typed\n"}}},
      {"x and s are names at the second prompt",
       {{"x", "ex\n"}},
       {"g"},
       "O\ns\nx\n",
       {kOpenDialogue + "Saved to g\nNext, enter a new filename to open\nOpened x\n"
                        "Read 3 bytes, 1 Lines Generated\n",
        "\n"},
       {"ex"},
       "x",
       {{"g", "\n"}}},
      // A taken name given at the save's name prompt: the open goes on only after "y".
      {"s without a name, a taken name and y",
       g,
       {},
       "typed\nO\ns\ng\ny\ng\n",
       {"",
        kOpenDialogue +
            "Enter a filename to save to\ng already exists; overwrite it? (y/n)\nSaved to g\n"
            "Next, enter a new filename to open\nOpened g\nRead 6 bytes, 1 Lines Generated\n",
        "\n"},
       {"typed"},
       "g",
       {{"g", "typed\n"}}},
      {"s without a name, a taken name declined opens nothing",
       g,
       {},
       "typed\nO\ns\ng\nn\nnext\n",
       {"",
        kOpenDialogue + "Enter a filename to save to\ng already exists; overwrite it? (y/n)\n"
                        "Nothing was saved\n",
        "", "\n"},
       {"typed", "next"},
       "",
       {{"g", "from g\n"}}},
      // Settled: input end at the save's name prompt abandons the whole open.
      {"input end at the save name prompt",
       g,
       {},
       "text\nO\ns\n",
       {"", kOpenDialogue + "Enter a filename to save to\nNo file name given; nothing saved\n",
        "\n"},
       {"text"},
       ""},
      {"input end at the second open prompt",
       g,
       {"mine"},
       "O\ns\n",
       {kOpenDialogue + "Saved to mine\nNext, enter a new filename to open\n", "\n"},
       {},
       "mine",
       {{"mine", "\n"}}},
  };
  for (const OpenCase& c : cases) {
    TempDir dir;
    WriteFiles(c.files);
    Transcript t = RunWithSettings("", c.input, c.args);
    std::vector<std::string> chunks = Chunks(t);
    ASSERT_EQ(chunks.size(), c.chunks.size() + 1) << c.name << ":\n" << t.AfterHint();
    for (std::size_t k = 0; k < c.chunks.size(); ++k) {
      EXPECT_EQ(chunks[k + 1], c.chunks[k]) << c.name << ", after command " << k + 1;
    }
    EXPECT_EQ(t.Lines(), c.lines) << c.name;
    EXPECT_EQ(t.ed->current_name, c.current_name) << c.name;
    for (const auto& [file, bytes] : c.written) EXPECT_EQ(ReadFile(file), bytes) << c.name;
    EXPECT_EQ(t.status, 0) << c.name;
  }
}

TEST(Open, DirectoryIsReportedAndTheDocumentKept) {
  TempDir dir;
  ASSERT_EQ(mkdir("d", 0755), 0);
  WriteFile("f", "kept\n");
  Transcript t = RunWithSettings("", "O\nd\n", {"f"});
  EXPECT_EQ(Chunk(t, 1), kOpenDialogue + "Could not read d: Is a directory\n");
  EXPECT_EQ(t.Lines(), (Lines{"kept"}));
  EXPECT_STREQ(t.ed->current_name, "f") << "what could not be read never becomes the name";

  Transcript start = RunWithSettings("", "", {"d"});
  EXPECT_EQ(Chunk(start, 0), "Could not read d: Is a directory\n");
  EXPECT_STREQ(start.ed->current_name, "");
}

TEST(Open, DeclinedPartialLoadAbandonsTheOpenAndTheSessionGoesOn) {
  // Any answer but "Y" (or the end of input) keeps document, name, cursor and undo record.
  for (std::string answer : {"n\n", "y\n", "Y \n", ""}) {
    TempDir dir;
    WriteFile("big", "1\n2\n3\n4\n");
    // "z" after the question undoes the typed line: the undo record survived.
    bool ended = answer.empty();
    Transcript t =
        RunWithSettings(Grid(3), "kept\nO\nbig\n" + answer + (ended ? "" : "z\n"), {"f"});
    EXPECT_EQ(t.status, 0) << answer;
    EXPECT_EQ(t.Lines(), ended ? Lines{"kept"} : Lines{}) << answer;
    EXPECT_STREQ(t.ed->current_name, "f") << answer;
    EXPECT_EQ(t.ed->cursor.line, ended ? 1 : 0) << answer;
    EXPECT_NE(t.out.find("(Y,n)?\nIf not, restart with more lines by editing the .morvax_rc "
                         "file.\n\nEditing 2:1 f\n"),
              std::string::npos)
        << answer << ": nothing more is printed before the view";
  }
}

// ---------------------------------------------------------------------------------------------
// Saving: the written bytes.
// ---------------------------------------------------------------------------------------------

struct ImageCase {
  const char* name;
  int lines;
  int lsize;
  std::map<int, std::string> slots;
  std::string bytes;
};

TEST(Save, ImageHoldsEveryLineUpToTheLastWithText) {
  const std::vector<ImageCase> cases = {
      {"only a", 100, 256, {{0, "a"}}, "a\n"},
      {"x and y with gaps", 100, 256, {{0, "x"}, {3, "y"}}, "x\n\n\ny\n"},
      {"text in slot 9 only", 100, 256, {{9, "t"}}, "\n\n\n\n\n\n\n\n\nt\n"},
      {"empty document", 100, 256, {}, "\n"},
      {"full-width line with trailing spaces",
       4,
       8,
       {{1, "ab    "}, {2, "1234567"}},
       "\nab    \n1234567\n"},
      {"text in the last slot", 3, 4, {{2, "end"}}, "\n\nend\n"},
      {"bytes written as they stand", 5, 16, {{0, "\r\t\x7f\xff"}}, "\r\t\x7f\xff\n"},
  };
  for (const ImageCase& c : cases) {
    Document doc;
    ASSERT_EQ(doc.Allocate(c.lines, c.lsize), 0);
    for (const auto& [line, text] : c.slots) {
      ASSERT_EQ(doc.SetLine(line, text), 0);
    }
    ASSERT_EQ(ImageSize(doc), c.bytes.size()) << c.name;
    std::string image(ImageSize(doc), '?');
    FormatLines(doc, image);
    EXPECT_EQ(image, c.bytes) << c.name;
  }
}

TEST(Save, TypedDocumentsSaveByteExactly) {
  struct Case {
    const char* name;
    std::string input;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {"a", "!a\nS\n", "a\n"},
      {"x, two empty lines, y", "!x\n\n\ny\nS\n", "x\n\n\ny\n"},
      {"empty document", "S\n", "\n"},
      {"padded line keeps its spaces", "G\n4\nab\nS\n", "   ab\n"},
      {"cursor far below the text", "!x\ng\n50\nS\n", "x\n"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    Transcript t = RunWithSettings("", c.input, {"out"});
    EXPECT_EQ(ReadFile("out"), c.bytes) << c.name;
    EXPECT_NE(t.out.find("Saved to out\n"), std::string::npos) << c.name;
  }
}

// ---------------------------------------------------------------------------------------------
// Saving: the name dialogues.
// ---------------------------------------------------------------------------------------------

struct SaveCase {
  const char* name;
  Files files;  // present before the session
  std::vector<std::string> args;
  std::string input;     // the document is "doc" on line 1 unless the input says
  std::string messages;  // printed by the save command
  std::string current_name;
  Files after;                           // files and their content afterwards
  std::vector<std::string> absent = {};  // names that must not exist afterwards
  int status = 0;
  Terminals terminals = {};
};

TEST(Save, NameDialogues) {
  const std::string ask = "Enter a filename to save to, or 'x' to return\n";
  const std::string exists = "The file already exists.\nEnter a new filename or 'o' to overwrite\n";
  const Files e1 = {{"e1", "one\n"}};
  const Files e12 = {{"e1", "one\n"}, {"e2", "two\n"}};
  const std::string n256(256, 'n');
  const std::string too_long = "File name is longer than 255 characters\n";
  const std::string plain = "Enter a filename to save to\n";
  const std::string taken = "e1 already exists; overwrite it? (y/n)\n";
  const std::string yes = taken + "Saved to e1\n", no = taken + "Nothing was saved\n";
  const std::vector<SaveCase> cases = {
      {"S asks until a name is given",
       {},
       {},
       "doc\nS\n\n\nname\n",
       "Enter a filename to save to\nEnter a filename to save to\nEnter a filename to save to\n"
       "Saved to name\n",
       "name",
       {{"name", "doc\n"}}},
      {"S at input end saves nothing",
       {},
       {},
       "doc\nS\n",
       "Enter a filename to save to\nNo file name given; nothing saved\n",
       "",
       {}},
      {"S overwrites without asking",
       e1,
       {"e1"},
       "doc\nS\n",
       "Saved to e1\n",
       "e1",
       {{"e1", "doc\n"}}},
      {"s with a new name",
       {},
       {"first"},
       "doc\ns\nnew\n",
       ask + "Saved to new\n",
       "new",
       {{"new", "doc\n"}},
       {"first"}},
      {"s with an existing name then o",
       e1,
       {},
       "doc\ns\ne1\no\n",
       ask + exists + "Saved to e1\n",
       "e1",
       {{"e1", "doc\n"}}},
      {"s then x cancels", e1, {"e1"}, "doc\ns\nx\n", ask, "e1", {{"e1", "one\n"}}, {"x"}},
      {"s existing then a new name",
       e1,
       {},
       "doc\ns\ne1\nnew\n",
       ask + exists + "Saved to new\n",
       "new",
       {{"e1", "one\n"}, {"new", "doc\n"}}},
      {"s existing twice, then x is a name",
       e12,
       {},
       "doc\ns\ne1\ne2\nx\n",
       ask + exists + "File exists. Try again\nSaved to x\n",
       "x",
       {{"e1", "one\n"}, {"e2", "two\n"}, {"x", "doc\n"}}},
      {"o is a name in the retry loop",
       {{"e1", "one\n"}, {"e2", "two\n"}, {"o", "oh\n"}},
       {},
       "doc\ns\ne1\ne2\no\nfresh\n",
       ask + exists + "File exists. Try again\nFile exists. Try again\nSaved to fresh\n",
       "fresh",
       {{"o", "oh\n"}, {"fresh", "doc\n"}}},
      // A taken name given at "Enter a filename to save to" is written over only after a
      // typed "y"; declining keeps the file, the name and the exit status (1 after a failure).
      {"s empty, then a taken name and y",
       e1,
       {},
       "doc\ns\n\ne1\ny\n",
       ask + plain + yes,
       "e1",
       {{"e1", "doc\n"}}},
      {"s empty, then a taken name and yes",
       e1,
       {"g"},
       "doc\ns\n\ne1\nyes\n",
       ask + plain + no,
       "g",
       {{"e1", "one\n"}},
       {"g"}},
      {"S to a taken name, y", e1, {}, "doc\nS\ne1\ny\n", plain + yes, "e1", {{"e1", "doc\n"}}},
      {"S to a taken name, n", e1, {}, "doc\nS\ne1\nn\n", plain + no, "", {{"e1", "one\n"}}},
      {"S to a taken name, input end", e1, {}, "doc\nS\ne1\n", plain + no, "", {{"e1", "one\n"}}},
      {"S to a taken name, y and a NUL",
       e1,
       {},
       std::string("doc\nS\ne1\ny\0x\n", 13),
       plain + taken + "Text after a NUL byte was dropped\nNothing was saved\n",
       "",
       e1},
      {"S to a taken name shown in caret form",
       {{"e\x1b", "1\n"}},
       {},
       "doc\nS\ne\x1b\nn\n",
       plain + "e^[ already exists; overwrite it? (y/n)\nNothing was saved\n",
       "",
       {{"e\x1b", "1\n"}},
       {},
       0,
       Terminals{.out = true}},
      {"a declined overwrite keeps the status",
       e1,
       {"missing/f"},
       "doc\nS\ns\n\ne1\nn\n",
       "Could not save to missing/f: No such file or directory\n",
       "missing/f",
       e1,
       {},
       1},
      // An abandoned dialogue keeps the old name: a later `S` never overwrites unconfirmed.
      {"input end at the overwrite question keeps the old name",
       e1,
       {"g"},
       "doc\ns\ne1\n",
       ask + exists,
       "g",
       {{"e1", "one\n"}},
       {"g"}},
      {"input end in the retry loop keeps the old name",
       e12,
       {},
       "doc\ns\ne1\ne2\n",
       ask + exists + "File exists. Try again\n",
       "",
       {{"e1", "one\n"}, {"e2", "two\n"}}},
      {"input end at the first prompt", {}, {"g"}, "doc\ns\n", ask, "g", {}, {"g"}},
      // A name too long is said once and leaves the dialogue: no second question, no save.
      {"S with a name too long",
       {},
       {},
       "doc\nS\n" + n256 + "\n",
       "Enter a filename to save to\n" + too_long,
       "",
       {}},
      {"s with a name too long", {}, {"g"}, "doc\ns\n" + n256 + "\n", ask + too_long, "g", {}},
      // A NUL byte in a name refuses it: the name before the NUL is never used.
      {"S with a name holding a NUL",
       e1,
       {},
       std::string("doc\nS\ne1\0x\n", 11),
       "Enter a filename to save to\nFile name holds a NUL byte\n",
       "",
       {{"e1", "one\n"}}},
  };
  for (const SaveCase& c : cases) {
    TempDir dir;
    WriteFiles(c.files);
    Transcript t = RunWithSettings("", c.input, c.args, {}, c.terminals);
    EXPECT_EQ(Chunk(t, 2), c.messages) << c.name;
    EXPECT_EQ(t.ed->current_name, c.current_name) << c.name;
    for (const auto& [file, bytes] : c.after) EXPECT_EQ(ReadFile(file), bytes) << c.name;
    for (const std::string& file : c.absent) EXPECT_FALSE(FileExists(file)) << c.name << file;
    EXPECT_EQ(t.Lines(), (Lines{"doc"})) << c.name;
    EXPECT_EQ(t.status, c.status) << c.name;
  }
}

// Settled: any entry at the name counts as existing, whether or not it can be read.
TEST(Save, ExistenceIsTestedByTheEntryNotByReading) {
  struct Case {
    const char* name;
    void (*make)();
  };
  const Case cases[] = {
      {"directory", [] { mkdir("there", 0755); }},
      {"dangling symbolic link", [] { ASSERT_EQ(symlink("nowhere", "there"), 0); }},
      {"unreadable file",
       [] {
         WriteFile("there", "secret\n");
         chmod("there", 0);
       }},
  };
  for (const Case& c : cases) {
    TempDir dir;
    c.make();
    Transcript t = RunWithSettings("", "doc\ns\nthere\nother\n");
    EXPECT_NE(Chunk(t, 2).find("The file already exists.\n"), std::string::npos) << c.name;
    EXPECT_EQ(ReadFile("other"), "doc\n") << c.name;
  }
}

// Settled: a name typed at the save prompt stays even when the write fails.
TEST(Save, TypedNameStaysWhenTheWriteFails) {
  TempDir dir;
  Transcript t = RunWithSettings("", "doc\nS\nmissing/f\n");
  EXPECT_EQ(
      Chunk(t, 2),
      "Enter a filename to save to\nCould not save to missing/f: No such file or directory\n");
  EXPECT_STREQ(t.ed->current_name, "missing/f");
  EXPECT_EQ(t.Lines(), (Lines{"doc"}));
}

// ---------------------------------------------------------------------------------------------
// The command-line argument.
// ---------------------------------------------------------------------------------------------

TEST(Arguments, NamesDashesAndLength) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string messages;  // before the first view
    std::string current_name;
    Lines lines;
    std::string place = "1:1";  // the cursor in the first view
  };
  const std::string opened_x = "Opened x\nRead 4 bytes, 1 Lines Generated\n";
  const std::string n255(255, 'n');
  const std::string n256(256, 'n');
  const std::vector<Case> cases = {
      {"double dash opens a dashed name",
       {"--", "-dash"},
       "Opened -dash\nRead 5 bytes, 1 Lines Generated\n",
       "-dash",
       {"dash"}},
      {"double dash alone opens nothing", {"--"}, "", "", {}},
      {"a dashed name is a name",
       {"-dash"},
       "Opened -dash\nRead 5 bytes, 1 Lines Generated\n",
       "-dash",
       {"dash"}},
      {"further arguments are ignored",
       {"-dash", "--help"},
       "Opened -dash\nRead 5 bytes, 1 Lines Generated\n",
       "-dash",
       {"dash"}},
      {"--help after a double dash is a name",
       {"--", "--help"},
       "File --help not found!\n",
       "--help",
       {}},
      {"255 characters fit", {n255}, "File " + n255 + " not found!\n", n255, {}},
      {"256 characters are refused", {n256}, "File name is longer than 255 characters\n", "", {}},
      {"+LINE", {"+12", "x"}, opened_x, "x", {"one"}, "12:1"},
      {"+LINE,COLUMN at the grid's last line and column",
       {"+0032767,256", "x"}, opened_x, "x", {"one"}, "32767:256"},
      {"+LINE,COLUMN past the grid", {"+32768,257", "x"}, opened_x, "x", {"one"}},
      {"+LINE,COLUMN with a column past the grid", {"+2,257", "x"}, opened_x, "x", {"one"}, "2:1"},
      {"+0", {"+0", "x"}, opened_x, "x", {"one"}},
      {"+LINE then a double dash", {"+3,2", "--", "x"}, opened_x, "x", {"one"}, "3:2"},
      {"+LINE then a double dash alone names nothing", {"+3", "--"}, "File +3 not found!\n", "+3",
       {}},
      {"+LINE alone is a name", {"+3"}, "File +3 not found!\n", "+3", {}},
      {"+LINE after a double dash is a name", {"--", "+3", "x"}, "File +3 not found!\n", "+3", {}},
      {"+ then no number is a name", {"+abc", "x"}, "File +abc not found!\n", "+abc", {}},
      {"+ then eight digits is a name", {"+12345678", "x"}, "File +12345678 not found!\n",
       "+12345678", {}},
      {"+LINE, then no column is a name", {"+3,", "x"}, "File +3, not found!\n", "+3,", {}},
      {"+LINE then other characters is a name", {"+3x", "x"}, "File +3x not found!\n", "+3x", {}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    WriteFile("-dash", "dash\n");
    WriteFile("x", "one\n");
    Transcript t = RunWithSettings("", "", c.args);
    EXPECT_EQ(Chunk(t, 0), c.messages) << c.name;
    std::string view = "\nEditing " + c.place + " " + c.current_name + "\n";
    EXPECT_EQ(t.AfterHint().substr(c.messages.size(), view.size()), view) << c.name;
    EXPECT_EQ(t.ed->current_name, c.current_name) << c.name;
    EXPECT_EQ(t.Lines(), c.lines) << c.name;
    EXPECT_EQ(t.status, 0) << c.name;
  }
}

TEST(Arguments, HelpAndVersionIgnoreWhatFollows) {
  TempDir dir;
  Transcript v = RunSession("", {"--version", "file"});
  EXPECT_EQ(v.out, "Morvax 1.0.0\n");
  Transcript h = RunSession("", {"--help", "file"});
  EXPECT_EQ(h.out.find("Morvax 1.0.0"), std::string::npos);
  EXPECT_EQ(h.out.rfind("Usage: morvax [FILE]\n", 0), 0u);
  EXPECT_EQ(v.status + h.status, 0);
  EXPECT_FALSE(FileExists(".morvax_rc"));
  EXPECT_FALSE(FileExists("file"));
}

}  // namespace
