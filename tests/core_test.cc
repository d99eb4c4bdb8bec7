// Whole sessions through the command loop: start-up, dispatch, the view, navigation, text
// entry, insertion, undo, quitting and the end of input.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <string>
#include <vector>

#include "app/messages.h"
#include "core/signals.h"
#include "term/caret.h"
#include "session.h"

namespace {

using Lines = std::vector<std::string>;

const std::string kEmptyNumberedView = "\nEditing 1:1 \n\n[1] \n 2\n 3\n 4\n 5\n 6\n 7\n 8\n  > ";

TEST(Startup, PrintsBannerHintAndFirstViewThenEndsOnInputEnd) {
  TempDir dir;
  Transcript t = RunWithSettings("", "");
  EXPECT_EQ(t.status, 0);
  EXPECT_EQ(t.out.rfind("Morvax 1.0.0\n", 0), 0u) << t.out;
  EXPECT_NE(t.out.find("\nEnter 'h' for help or 'q' to quit\n"), std::string::npos);
  EXPECT_EQ(t.AfterHint(), kEmptyNumberedView + "\n");
}

TEST(Startup, QuitNeedsTheLetterQAsConfirmation) {
  struct Case {
    const char* name;
    std::string input;
    int views;  // views printed in all
    bool quit;
    Terminals terminals = {};
  };
  const Case cases[] = {
      {"q then q", "q\nq\n", 1, true},
      {"upper-case Q continues", "q\nQ\n", 2, false},
      {"empty answer continues", "q\n\n", 2, false},
      {"other letter is not run", "q\nz\n", 2, false},
      {"q with a space continues", "q\nq \n", 2, false},
      {"input end at the confirmation ends", "q\n", 1, true},
      // Ctrl-D leaves only the quit; at the next prompt it ends the session.
      {"Ctrl-D at a terminal leaves the quit", "q\n", 2, true, Terminals{.in = true}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    Transcript t = RunWithSettings("", c.input, {}, {}, c.terminals);
    EXPECT_EQ(t.status, 0) << c.name;
    int views = 0;
    for (std::size_t at = 0; (at = t.out.find("\nEditing ", at)) != std::string::npos; ++at) {
      ++views;
    }
    EXPECT_EQ(views, c.views) << c.name;
    EXPECT_NE(t.out.find("Enter 'q' again to quit or anything else to continue\n"),
              std::string::npos)
        << c.name;
    if (c.quit) {
      EXPECT_FALSE(t.ed->running) << c.name;
    }
    EXPECT_TRUE(t.Lines().empty()) << c.name << ": the answer must not be entered as text";
  }
}

TEST(Startup, ConfirmedQuitPrintsNothingAfterTheQuestion) {
  TempDir dir;
  Transcript t = RunWithSettings("", "q\nq\n");
  std::string tail = "  > Enter 'q' again to quit or anything else to continue\n";
  ASSERT_GE(t.out.size(), tail.size());
  EXPECT_EQ(t.out.substr(t.out.size() - tail.size()), tail);
}

TEST(Startup, VersionAndHelpArgumentsExitAtOnceWithoutASettingsFile) {
  TempDir dir;
  Transcript v = RunSession("", {"--version"});
  EXPECT_EQ(v.out, "Morvax 1.0.0\n");
  EXPECT_EQ(v.status, 0);
  Transcript h = RunSession("", {"--help"});
  EXPECT_EQ(h.out.rfind("Usage: morvax [FILE]\n", 0), 0u);
  EXPECT_EQ(h.status, 0);
  EXPECT_FALSE(FileExists(".morvax_rc"));
}

// Input script -> document and cursor.
struct EditCase {
  const char* name;
  std::string input;
  Lines lines;
  int line;  // cursor, 1-based as shown
  int pos;
  std::string message = "";  // must appear in the output
};

void RunEditCases(const std::vector<EditCase>& cases, const std::string& settings = "") {
  for (const EditCase& c : cases) {
    TempDir dir;
    Transcript t = RunWithSettings(settings, c.input);
    EXPECT_EQ(t.Lines(), c.lines) << c.name;
    EXPECT_EQ(t.ed->cursor.line + 1, c.line) << c.name;
    EXPECT_EQ(t.ed->cursor.column + 1, c.pos) << c.name;
    if (!c.message.empty()) {
      EXPECT_NE(t.out.find(c.message), std::string::npos) << c.name;
    }
    EXPECT_TRUE(t.ed->doc.CheckInvariant()) << c.name;
    EXPECT_EQ(t.status, 0) << c.name;
  }
}

// The handlers are the process's: each order is tried in a child of its own, which ends with 0
// when the first terminating signal is the one pending.
TEST(Signals, TheFirstOfTwoEndingSignalsIsTheOneTaken) {
  for (auto [first, second] : {std::pair{SIGHUP, SIGTERM}, std::pair{SIGTERM, SIGHUP}}) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      InstallSignalHandlers();
      kill(getpid(), first);
      kill(getpid(), SIGINT);
      kill(getpid(), second);
      _exit(PendingSignal() == first ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << first << " then " << second;
  }
}

TEST(Dispatch, KeysAreWholeInputLinesAndBangEscapes) {
  RunEditCases({
      {"text drops to the next line", "hello\nworld\n", {"hello", "world"}, 3, 1},
      {"key twice is text", "bb\n", {"bb"}, 2, 1},
      {"key after a space is text", " b\n", {" b"}, 2, 1},
      {"key before a space is text", "b \n", {"b "}, 2, 1},
      {"key with carriage return is text", "b\r\n", {"b\r"}, 2, 1},
      {"bang writes the key", "!q\n", {"q"}, 2, 1},
      {"bang keeps the whole rest", "!abc\n", {"abc"}, 2, 1},
      {"bang before a bang", "!!\n", {"!"}, 2, 1},
      {"bang alone is empty text", "!\ny\n", {"", "y"}, 3, 1},
      {"plain enter keeps the column", "G\n8\n\nab\n", {"", "       ab"}, 3, 8},
      {"enter moves down", "\n\ny\n", {"", "", "y"}, 4, 1},
  });
}

TEST(Dispatch, EnterOnTheLastSlotIsEmptyText) {
  RunEditCases({{"enter on last slot pads to the cursor", "G\n4\n\n\n\n\n", {"", "", "   "}, 3, 4}},
               "max_lines=3\n");
}

TEST(Dispatch, SameKeyRunsTheCommandFirstInDispatchOrder) {
  // new_insert rebound to j: jump_line comes first and asks for a jump string.
  TempDir dir;
  Transcript t = RunWithSettings("new_insert=j\n", "j\nxyz\n");
  EXPECT_NE(t.out.find("Enter jump string\n"), std::string::npos);
  EXPECT_EQ(t.out.find("Enter string to insert"), std::string::npos);
}

TEST(Dispatch, UndoBoundToBangRunsOnBang) {
  RunEditCases({{"undo on bang", "abc\n!\n", {}, 1, 1}}, "undo=!\n");
  RunEditCases({{"other command on bang is text", "abc\n!\n", {"abc"}, 3, 1}}, "help=!\n");
}

TEST(Dispatch, QuitRebound) {
  TempDir dir;
  Transcript t = RunWithSettings("quit=Q\n", "q\nQ\nq\n");
  EXPECT_EQ(t.Line(0), "q");
  EXPECT_FALSE(t.ed->running);
}

// At a terminal a line that holds pasted bytes is text at the command prompt, as it stands, and
// never the yes of a question, nor is a line cut at a NUL byte; a file that must keep "old\n"
// is written by none of them.
TEST(Dispatch, PastedLinesAreNeverCommandsNorAYes) {
  const std::string p = kPasted;
  struct Case {
    const char* name;
    std::string settings;
    std::vector<std::string> args;
    std::string input;
    Lines lines;
    int status = 0;
  };
  const Case cases[] = {
      {"keys, a bang and an empty line: empty text, not Enter",
       "",
       {},
       p + ".\n" + p + "x\n" + p + "!a\nG\n3\n" + p + "\ny\n",
       {".", "x", "!a", "  ", "  y"}},
      {"quit", "", {}, "q\n" + p + "q\nabc\n", {"abc"}},
      {"consent", "launch_command=run\n", {}, "=\n" + p + "y\nold.txt\n", {"old.txt"}},
      {"overwrite: no name, asked for", "", {}, "s\nold.txt\n" + p + "o\nnew.txt\n", {}},
      {"overwrite a taken name", "", {}, "S\nold.txt\n" + p + "y\n", {}},
      {"consent, y and a NUL",
       "launch_command=run\n",
       {},
       std::string("=\ny\0x\nold.txt\n", 14),
       {"old.txt"}},
      {"changed on disk", "", {"old.txt"}, "+\nrun\n=\nS\n" + p + "y\n", {"old"}},
      {"partial load", "max_lines=1\n", {"two.txt"}, p + "Y\n", {}, 1},
      {"a long pasted line keeps its bang", "max_char=4\n", {}, p + "!abcdef\n", {"!abc"}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    WriteFile("old.txt", "old\n");
    WriteFile("two.txt", "a\nb\n");
    Options options;
    options.run_shell = [](const char*) { WriteFile("old.txt", "old\n\n"); };  // another program
    bool changes = c.args.size() == 1 && c.args[0] == "old.txt";
    Terminals terminals{.in = true, .out = true, .edited = true};
    Transcript t = RunWithSettings(c.settings, c.input, c.args, options, terminals);
    EXPECT_EQ(t.Lines(), c.lines) << c.name;
    EXPECT_EQ(t.status, c.status) << c.name;
    EXPECT_EQ(ReadFile("old.txt"), changes ? "old\n\n" : "old\n") << c.name;
  }
}

TEST(Input, OverlongLinesAreReadWholeAndTheRestDropped) {
  // With lines of at most 4 characters a read keeps 4 bytes; the rest of the line is dropped,
  // and a line that lost characters is text, never a command.
  RunEditCases(
      {
          {"the rest of a long line is dropped",
           "abcdefg\n",
           {"abcd"},
           2,
           1,
           "Text was shortened to fit onto line\n"},
          {"exact length: the line end moves nothing", "abcd\ny\n", {"abcd", "y"}, 3, 1},
          {"a long line that starts with a key is text",
           "Dxxxxx\n",
           {"Dxxx"},
           2,
           1,
           "Text was shortened to fit onto line\n"},
          {"the ! rule applies to a long line",
           "!qrstuv\n",
           {"qrs"},
           2,
           1,
           "Text was shortened to fit onto line\n"},
          {"a NUL kept ends the text, which is said",
           std::string("ab\0dxyz\n", 8),
           {"ab"},
           2,
           1,
           "Text after a NUL byte was dropped\n"},
          {"a key followed by a NUL is text, not the command",
           std::string("q\0x\n", 4),
           {"q"},
           2,
           1,
           "Text after a NUL byte was dropped\n"},
          {"a NUL in the insert string ends it",
           std::string("i\na\0b\n", 7),
           {"a"},
           2,
           1,
           "Text after a NUL byte was dropped\n"},
          {"numeric answer of 8 digits", "g\n0000002y\n", {}, 2, 1},
          {"numeric answer of 7 characters and its line end",
           "g\n0000003\ny\n",
           {"", "", "y"},
           4,
           1},
      },
      "max_char=4\n");
}

TEST(Input, EndOfInputAtAPromptAbandonsTheCommandAndEnds) {
  const char* prompts[] = {"p\n", "j\n", "J\n", "g\n", "G\n", "i\n"};
  for (const char* input : prompts) {
    TempDir dir;
    Transcript t = RunWithSettings("", std::string("abc\n") + input);
    EXPECT_EQ(t.status, 0) << input;
    EXPECT_EQ(t.Lines(), Lines{"abc"}) << input;
    EXPECT_EQ(t.ed->page_length, 8) << input;
    // The abandoned command is followed by one more view and the final line end.
    std::string end = "\n[2] \n 3\n 4\n 5\n 6\n 7\n 8\n  > \n";
    ASSERT_GE(t.out.size(), end.size());
    EXPECT_EQ(t.out.substr(t.out.size() - end.size()), end) << input;
  }
}

TEST(View, WindowPrefixesAndPrompt) {
  struct Case {
    const char* name;
    std::string settings;
    std::string input;  // the view printed last is checked
    std::string view;
  };
  const std::vector<Case> cases = {
      {"empty numbered", "", "", kEmptyNumberedView},
      {"unnumbered at line 3", "show_numbers=off\n", "one\ntwo\n",
       "\nEditing 3:1 \n\n  one\n  two\n>\n\n\n\n\n\n> "},
      {"numbered, window ends at the cursor", "lines_per_page=3\n", "!a\n!b\n!c\n!d\n!e\n",
       "\nEditing 6:1 \n\n 4  d\n 5  e\n[6] \n  > "},
      {"lines shown from the cursor column", "lines_per_page=2\nshow_numbers=off\n",
       "abcdefgh\nabc\nabcdefgh\ng\n3\nG\n5\n", "\nEditing 3:5 \n\n\n> efgh\n> "},
      {"text not reaching the column", "lines_per_page=2\nshow_numbers=off\n",
       "abcd\nabcdefghijk\ng\n1\nG\n5\n", "\nEditing 1:5 \n\n>\n  efghijk\n> "},
      {"prompt under a two-digit prefix", "lines_per_page=1\n", "g\n12\nxy\n,\n",
       "\nEditing 12:1 \n\n[12] xy\n   > "},
      {"page length 1 shows only the cursor line", "lines_per_page=1\n", "!a\n,\n",
       "\nEditing 1:1 \n\n[1] a\n  > "},
      {"last slot ends the window", "max_lines=3\n", "g\n3\n",
       "\nEditing 3:1 \n\n 1\n 2\n[3] \n  > "},
  };
  for (const Case& c : cases) {
    TempDir dir;
    Transcript t = RunWithSettings(c.settings, c.input);
    std::size_t last = t.out.rfind("\nEditing ");
    ASSERT_NE(last, std::string::npos) << c.name;
    std::string view = t.out.substr(last);
    view.pop_back();  // the final line end printed at the end of input
    EXPECT_EQ(view, c.view) << c.name;
  }
}

TEST(View, CurrentLinePrefixHoldsTheLargestLineNumber) {
  TempDir dir;
  Transcript t =
      RunWithSettings("max_lines=2000000000\nmax_char=1\nlines_per_page=1\n", "g\n2000000\n");
  // 2,000,000,000 lines of 2 bytes are too many for one grid: it falls back.
  EXPECT_NE(t.out.find("too large"), std::string::npos);
  Transcript u =
      RunWithSettings("max_lines=10000000\nmax_char=1\nlines_per_page=1\n", "g\n9999999\n>\n");
  std::size_t last = u.out.rfind("\nEditing ");
  EXPECT_EQ(u.out.substr(last), "\nEditing 10000000:1 \n\n[10000000] \n         > \n");
}

TEST(View, CaretDisplayOfControlBytes) {
  struct Row {
    std::string text;
    std::string utf8;   // shown under a UTF-8 character set
    std::string other;  // shown under any other
  };
  const Row rows[] = {
      {"plain text, tab and blanks", "plain text, tab and blanks", "plain text, tab and blanks"},
      {std::string("\0\x01\x1a\x1f", 4), "^@^A^Z^_", "^@^A^Z^_"},
      {"a\tb", "a\tb", "a\tb"},
      {"\x1b]0;title\x07", "^[]0;title^G", "^[]0;title^G"},
      {"\x1b[2J\r\n\x7f", "^[[2J^M^J^?", "^[[2J^M^J^?"},
      {"\x9b\x80\x9f", "\\x9b\\x80\\x9f", "\\x9b\\x80\\x9f"},  // C1 bytes alone
      {"\xc2\x85\xc2\x9b", "\\xc2\\x85\\xc2\\x9b", "\xc2\\x85\xc2\\x9b"},  // U+0085, U+009B
      {"\xc2\xa0\xc3\xa9\xe2\x82\xac", "\xc2\xa0\xc3\xa9\xe2\x82\xac",
       "\xc2\xa0\xc3\xa9\xe2\\x82\xac"},  // U+00A0, e-acute, euro
      {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80", "\xf0\\x9f\\x98\\x80"},  // four bytes
      {"\xe2\x82", "\\xe2\\x82", "\xe2\\x82"},                            // cut sequence
      {"caf\xe9!", "caf\\xe9!", "caf\xe9!"},                                  // Latin-1 byte
      {"\xc0\x80\xff\xa0", "\\xc0\\x80\\xff\\xa0", "\xc0\\x80\xff\xa0"},      // overlong, stray
      {"\xed\xa0\x80", "\\xed\\xa0\\x80", "\xed\xa0\\x80"},  // surrogate: not UTF-8
  };
  for (const Row& row : rows) {
    EXPECT_EQ(CaretDisplay(row.text, true), row.utf8) << row.text;
    EXPECT_EQ(CaretDisplay(row.text, false), row.other) << row.text;
  }
}

// What is printed for a document, a file name and a key of the settings file: at a terminal in
// caret display, elsewhere exactly the bytes (positions count bytes either way).
TEST(View, TerminalShowsControlBytesAndOtherOutputKeepsTheBytes) {
  std::string controls;
  for (int c = 1; c < 0x20; ++c) {
    if (c != '\n') controls += static_cast<char>(c);
  }
  controls += '\x7f';
  std::string high;
  for (int c = 0x80; c <= 0xff; ++c) high += static_cast<char>(c);
  const std::string name = "f\x1b[2J";
  const std::string file = "\x1b]0;title\x07" + controls + "\n" + high + "\n\xc2\x85\xe2\x82\xac\n";
  const std::string settings = "lines_per_page=3\nhelp=\x1b\n";
  const std::string read = "Read " + std::to_string(file.size()) + " bytes, 3 Lines Generated\n";

  TempDir dir;
  WriteFile(name, file);
  Transcript plain = RunWithSettings(settings, "", {name});
  EXPECT_NE(plain.out.find("Enter '\x1b' for help"), std::string::npos);
  EXPECT_EQ(plain.AfterHint(), "Opened " + name + "\n" + read + "\nEditing 1:1 " + name +
                                   "\n\n[1] \x1b]0;title\x07" + controls + "\n 2  " + high +
                                   "\n 3  \xc2\x85\xe2\x82\xac\n  > \n");

  Transcript shown = RunWithSettings(settings, "", {name}, {}, {.out = true});
  EXPECT_NE(shown.out.find("Enter '^[' for help"), std::string::npos);
  EXPECT_EQ(shown.AfterHint(), "Opened f^[[2J\n" + read +
                                   "\nEditing 1:1 f^[[2J\n\n[1] ^[]0;title^G" +
                                   CaretDisplay(controls, true) + "\n 2  " +
                                   CaretDisplay(high, true) +
                                   "\n 3  \\xc2\\x85\xe2\x82\xac\n  > \n");
  EXPECT_EQ(CaretDisplay(controls, true),
            "^A^B^C^D^E^F^G^H\t^K^L^M^N^O^P^Q^R^S^T^U^V^W^X^Y^Z^[^\\^]^^^_^?");
  EXPECT_EQ(shown.Line(0), "\x1b]0;title\x07" + controls) << "the document keeps its bytes";
  // Under another character set only C1 bytes are escaped; UTF-8 is not looked for.
  Transcript other = RunWithSettings(settings, "", {name}, {}, {.out = true, .utf8 = false});
  EXPECT_NE(other.out.find("\n 3  \xc2\\x85\xe2\\x82\xac\n  > "), std::string::npos);

  // Columns count document bytes: position 2 of line 1 starts after the ESC byte.
  Transcript column = RunWithSettings(settings, "G\n2\n", {name}, {}, {.out = true});
  EXPECT_NE(column.out.find("\nEditing 1:2 f^[[2J\n\n[1] ]0;title^G"), std::string::npos);
}

TEST(Navigation, MovesStopAtTheEdges) {
  RunEditCases(
      {
          {"back at column 1", "b\n", {}, 1, 1},
          {"forward then back", "n\nn\nn\nb\n", {}, 1, 3},
          {"forward stops at the last column", "G\n11\nn\n", {}, 1, 11},
          {"previous line on line 1 resets the column", "G\n3\n,\n", {}, 1, 1},
          {"next line resets the column", "G\n3\n.\n", {}, 2, 1},
          {"next line on the last slot", "g\n4\nG\n2\n.\n", {}, 4, 1},
          {"beginning", "G\n4\nl\n", {}, 1, 1},
          {"end of a line", "abcdefghi\n,\nG\n4\ne\n", {"abcdefghi"}, 1, 10},
          {"end beyond the text stays", "abc\n,\nG\n6\ne\n", {"abc"}, 1, 6},
          {"page forward stops at the last slot", "g\n2\n>\n", {}, 4, 1},
          {"page back stops at line 1", "g\n3\n<\n", {}, 1, 1},
          {"go to line 0 is ignored", "g\n2\ng\n0\n", {}, 2, 1},
          {"go to line beyond is ignored", "g\n5\n", {}, 1, 1},
          {"go to line with a word is ignored", "g\n2\ng\nabc\n", {}, 2, 1},
          {"go to position lsize is the last column", "G\n11\n", {}, 1, 11},
          {"go to position beyond is ignored", "G\n12\n", {}, 1, 1},
          {"go to negative position is ignored", "G\n-3\n", {}, 1, 1},
          {"anchor set then go on another line", "G\n7\nA\n.\na\n", {}, 2, 7},
      },
      "max_lines=4\nmax_char=10\n");
}

TEST(Navigation, PageLengthKeepsItsValueOnAnswersBelowOne) {
  for (const char* answer : {"0", "-4", "abc", ""}) {
    TempDir dir;
    Transcript t = RunWithSettings("", std::string("p\n") + answer + "\n>\n");
    EXPECT_EQ(t.ed->page_length, 8) << answer;
    EXPECT_EQ(t.ed->cursor.line, 8) << answer;
  }
  TempDir dir;
  Transcript t = RunWithSettings("", "p\n3\n>\n");
  EXPECT_EQ(t.ed->page_length, 3);
  EXPECT_EQ(t.ed->cursor.line, 3);
}

TEST(Navigation, JumpsAndTheirMessages) {
  RunEditCases({
      {"jump in line", "one two two\n,\nj\ntwo\n", {"one two two"}, 1, 5},
      {"jump in line at the cursor stays", "one two\n,\nG\n5\nj\ntwo\nj\ntwo\n", {"one two"}, 1, 5},
      {"jump in line before the cursor fails",
       "one two\n,\nG\n6\nj\ntwo\n",
       {"one two"},
       1,
       6,
       "String not found in line 1\n"},
      {"empty jump string fails", "abc\n,\nj\n\n", {"abc"}, 1, 1, "String not found in line 1\n"},
      {"jump in document", "ab\ncd\nxyz cd\ng\n2\nG\n2\nJ\nyz\n", {"ab", "cd", "xyz cd"}, 3, 2},
      {"jump in document finds before the cursor on the current line",
       "abc\n,\nG\n3\nJ\nab\n",
       {"abc"},
       1,
       1},
      {"jump in document does not search earlier lines",
       "abc\n\nJ\nab\n",
       {"abc"},
       3,
       1,
       "String not found\n"},
  });
}

TEST(Navigation, TogglesPrintTheirState) {
  TempDir dir;
  Transcript t = RunWithSettings("", "L\nL\n#\n");
  EXPECT_NE(t.out.find("Line Lock On\n"), std::string::npos);
  EXPECT_NE(t.out.find("Line Lock Off\n"), std::string::npos);
  EXPECT_EQ(t.ed->show_numbers, 0);
  EXPECT_EQ(t.ed->line_lock, 0);
}

TEST(TextEntry, OverwritesPadsAndShortens) {
  RunEditCases(
      {
          {"overwrite the middle", "abcdefgh\n,\nG\n3\nXY\n", {"abXYefgh"}, 2, 3},
          {"pad up to the cursor", "abc\n,\nG\n11\nX\n", {"abc       X"}, 2, 11},
          {"line lock keeps the line", "L\nab\ncd\n", {"cd"}, 1, 1},
          {"at the last column", "G\n16\nxy\n", {}, 2, 16, "At End Of Line\n"},
          {"shortened to fit",
           "G\n14\nxyz\n",
           {"             xy"},
           2,
           14,
           "Text was shortened to fit onto line\n"},
          {"typing on the last slot stays", "g\n3\n!a\n!b\n", {"", "", "b"}, 3, 1},
      },
      "max_lines=3\nmax_char=15\n");
}

// The document is unsaved after every change carried out, an undo included, and only then: a
// text entry refused at the last column changes nothing.
TEST(TextEntry, OnlyAChangeCarriedOutLeavesTheDocumentUnsaved) {
  const struct {
    const char* input;
    bool modified;
  } cases[] = {
      {"G\n16\nxy\n", false},
      {"G\n15\nxy\n", true},
      {"xy\ns\nsaved.txt\n", false},
      {"xy\ns\nsaved.txt\nz\n", true},
  };
  for (const auto& c : cases) {
    TempDir dir;
    Transcript t = RunWithSettings("max_lines=3\nmax_char=15\n", c.input);
    EXPECT_EQ(t.ed->modified(), c.modified) << c.input;
  }
}

TEST(TextEntry, NewInsertChecksAndInserts) {
  RunEditCases(
      {
          {"insert in the middle", "abcdef\n,\nG\n3\ni\nXY\n", {"abXYcdef"}, 1, 3},
          {"insert beyond the end pads", "abc\n,\nG\n9\ni\nXY\n", {"abc     XY"}, 1, 9},
          {"empty answer inserts nothing", "abc\n,\ni\n\n", {"abc"}, 1, 1},
          {"line limit",
           "abcdefghijklm\n,\ni\nXYZ\n",
           {"XYabcdefghijklm"},
           1,
           1,
           "Insert was truncated because the line would have exceeded 16\n"},
          {"position limit",
           "ab\n,\nG\n13\ni\nXYZW\n",
           {"ab          XYZ"},
           1,
           13,
           "Insert was truncated because it is too long for the position\n"},
          {"last column inserts nothing",
           "ab\n,\nG\n16\ni\nX\n",
           {"ab"},
           1,
           16,
           "Insert was truncated because it is too long for the position\n"},
      },
      "max_lines=3\nmax_char=15\n");
}

TEST(TextEntry, CheckInsertPrintsBothMessagesInOrder) {
  TempDir dir;
  Transcript t = RunWithSettings("max_char=10\n", "abcdefgh\n,\nG\n9\ni\nXYZ\n");
  std::string both =
      "Insert was truncated because it is too long for the position\n"
      "Insert was truncated because the line would have exceeded 11\n";
  EXPECT_NE(t.out.find(both), std::string::npos);
  EXPECT_EQ(t.Line(0), "abcdefghXY");
}

TEST(Undo, RestoresTheLineAndTheCursorOnce) {
  RunEditCases({
      {"undo at start does nothing", "z\n", {}, 1, 1},
      {"undo text entry", "abc\n,\nXY\nz\n", {"abc"}, 1, 1},
      {"second undo does nothing", "abc\n,\nXY\nz\nz\n", {"abc"}, 1, 1},
      {"undo after moving returns to the line", "abc\ng\n5\nG\n4\nz\n", {}, 1, 4},
      {"undo new_insert", "abc\n,\ni\nXY\nz\n", {"abc"}, 1, 1},
      {"refused insert keeps the record", "abc\nxyz\n,\nG\n4\ni\n\nz\n", {"abc"}, 2, 4},
  });
}

}  // namespace
