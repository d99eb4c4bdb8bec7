// The command table's contract: every command reaches the help at its line with the key in
// force, the default settings file and the two documents, and the order in which keys are
// tried. The texts themselves are the table's: nothing here writes them out a second time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "session.h"

const std::string kHelpMenu =
    "'n'  Navigation Commands\n"
    "'e'  Editing Commands\n"
    "'f'  File Commands\n"
    "'m'  More Commands\n"
    "'x'  Exit Help\n";

std::string DefaultSettingsFile() {
  KeyTable keys;
  MakeKeys(keys);
  SetDefaultValues(keys);
  return FormatSettings(keys, kDefaultGrid);
}

std::vector<std::string> HelpSections(const std::string& after_hint) {
  std::vector<std::string> pieces;
  std::size_t from = 0;
  for (std::size_t at; (at = after_hint.find(kHelpMenu, from)) != std::string::npos;
       from = at + kHelpMenu.size()) {
    pieces.push_back(after_hint.substr(from, at - from));
  }
  pieces.push_back(after_hint.substr(from));
  return pieces;
}

namespace {

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t from = 0, end; from < text.size(); from = end + 1) {
    end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(from, end - from));
  }
  return lines;
}

// Each command on a key of its own: every section lists its commands at the lines the table
// gives them, each with the key in force (open's with "O", whatever its key), and ends with
// an empty line; the limits come first, and no command shows twice.
TEST(CommandTable, EachSectionShowsItsCommandsAtTheirLinesWithTheKeysInForce) {
  const std::string pool = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789%&()*-/:;@[]^_{|}~";
  ASSERT_LE(kCommandCount, static_cast<int>(pool.size()));
  const std::string keys = pool.substr(0, kCommandCount);
  std::string settings = kPlainView + "max_char=80\nmax_lines=1000\n";
  for (int id = 0; id < kCommandCount; ++id) {
    settings += std::string(kCommands[id].name) + "=" + keys[id] + "\n";
  }
  TempDir dir;
  Transcript t = RunWithSettings(settings, std::string(1, keys[kHelp]) + "\nn\ne\nf\nm\nx\n");
  std::vector<std::string> pieces = HelpSections(t.AfterHint());
  ASSERT_EQ(pieces.size(), 6u) << t.out;  // before the first menu, four sections, the view
  EXPECT_EQ(pieces[0], PlainView(1, 1) + HelpLimits(80, 1000));
  EXPECT_EQ(pieces[5], PlainView(1, 1) + "\n");
  const Section order[] = {Section::kNavigation, Section::kEditing, Section::kFile, Section::kMore};
  for (int k = 0; k < 4; ++k) {
    std::vector<std::string> lines = LinesOf(pieces[k + 1]);
    int last = 0;
    for (const Command& command : kCommands) {
      if (command.help.section == order[k]) last = std::max(last, command.help.line);
    }
    ASSERT_GE(static_cast<int>(lines.size()), last + 1) << pieces[k + 1];
    EXPECT_EQ(lines.back(), "") << pieces[k + 1];
    std::size_t first = lines.size() - 1 - static_cast<std::size_t>(last);  // the section's line 1
    for (CommandId id = 0; id < kCommandCount; ++id) {
      const Command& command = kCommands[id];
      char key = command.Has(kHelpShowsDefaultKey) ? command.default_key : keys[id];
      std::string line = std::string("    '") + key + "' " + command.help.text;
      EXPECT_EQ(t.out.find(line), t.out.rfind(line)) << line;
      if (command.help.section != order[k]) continue;
      EXPECT_EQ(lines[first + command.help.line - 1], line) << command.name;
    }
  }
  EXPECT_NE(t.out.find(std::string("\nEnter '") + keys[kHelp] + "' for help or '" + keys[kQuit] +
                       "' to quit\n"),
            std::string::npos);
}

// The file a first start writes reads back as the defaults it was made from; and a file made
// from other keys and another grid reads back as those, so no line is lost between the two.
TEST(CommandTable, TheSettingsFileReadsBackAsTheKeysAndGridItWasMadeFrom) {
  auto read_back = [](const std::string& text, KeyTable& keys, GridSize& size) {
    MakeKeys(keys);
    SetDefaultValues(keys);
    StartValues start;
    ApplySettings(text, keys, size, start);
    return start;
  };
  KeyTable keys;
  GridSize size{1, 2};
  StartValues start = read_back(DefaultSettingsFile(), keys, size);
  EXPECT_EQ(size.lines, kDefaultGrid.lines);
  EXPECT_EQ(size.lsize, kDefaultGrid.lsize);
  EXPECT_EQ(start.anchor, 0);
  EXPECT_EQ(start.page_length, kDefaultPageLength);
  EXPECT_EQ(start.show_numbers, 1);
  EXPECT_STREQ(start.launch_command, "");
  for (CommandId id = 0; id < kCommandCount; ++id) {
    EXPECT_EQ(keys[id].value, std::string(1, kCommands[id].default_key)) << kCommands[id].name;
  }

  KeyTable other;
  MakeKeys(other);
  const std::string pool = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789%&()*-/:;@[]^_{|}~";
  for (CommandId id = 0; id < kCommandCount; ++id) other[id].value[0] = pool[id];
  const GridSize grid{1000, 81};
  read_back(FormatSettings(other, grid), keys, size);
  EXPECT_EQ(size.lines, grid.lines);
  EXPECT_EQ(size.lsize, grid.lsize);
  for (CommandId id = 0; id < kCommandCount; ++id) {
    EXPECT_STREQ(keys[id].value, other[id].value) << kCommands[id].name;
  }
}

// The manual page has an entry for every command, their count and the order in which keys are
// tried; the README's table has every default key.
TEST(CommandTable, TheManualAndTheReadmeDocumentEveryCommand) {
  const std::string manual = ReadFile(MORVAX_SOURCE_DIR "/docs/morvax.1");
  const std::string readme = ReadFile(MORVAX_SOURCE_DIR "/README.md");
  ASSERT_NE(readme.find("## Default keys"), std::string::npos);
  const std::string keys = readme.substr(readme.find("## Default keys"));
  for (const Command& command : kCommands) {
    std::string key(1, command.default_key);
    std::string entry =
        ".BR " + (key == "." ? "\\&." : key) + " \"  (\\fI" + command.name + "\\fP)\"\n";
    EXPECT_NE(manual.find(entry), std::string::npos) << entry;
    EXPECT_NE(keys.find("`" + key + "`"), std::string::npos)
        << "the README's key table lacks " << command.name;
  }
  const std::string commands = std::to_string(kCommandCount);
  const std::string defaults = DefaultSettingsFile();
  const std::string lines = std::to_string(std::count(defaults.begin(), defaults.end(), '\n'));
  EXPECT_NE(manual.find("One line for each of the " + commands + " commands"), std::string::npos)
      << "the manual's SETTINGS counts " << commands << " commands";
  // The settings list names the first two rows and the last, in the table's order.
  const std::string list = "has " + lines + " lines: the " + commands + " command keys in the\n" +
                           "order\n.IR " + kCommands[0].name + " ,\n.IR " + kCommands[1].name +
                           " ,\n\\&...,\n.IR " + kCommands.back().name + " ,\n";
  EXPECT_NE(manual.find(list), std::string::npos) << list;
  EXPECT_NE(readme.find("with every default (" + lines + " lines)"), std::string::npos)
      << "the README counts " << lines << " lines in the default settings file";

  // ".B , . n b ... +\n.BR q .\n": every default key, in the order they are tried.
  std::string order = ".B";
  for (CommandId id : kDispatchOrder) {
    if (id == kDispatchOrder.back()) order += "\n.BR";
    order += std::string(" ") + kCommands[id].default_key;
  }
  order += " .\n";
  const std::string intro = "The commands are tried in this order (shown by their default keys):\n";
  ASSERT_NE(manual.find(intro), std::string::npos);
  EXPECT_EQ(manual.substr(manual.find(intro) + intro.size(), order.size()), order);
}

// The loop gets the memory for a change before every command marked as changing the
// document, so a command that changes it must be marked. Each command runs at 2:2 of a
// document whose first line was just typed (for undo), with "de" in the clipboard and "3" at
// every prompt. `open` is left out: it replaces the document by a load, not by a change.
TEST(CommandTable, EveryCommandThatChangesTheDocumentIsMarkedSo) {
  for (const Command& command : kCommands) {
    if (std::string_view(command.name) == "open") continue;
    TempDir dir;
    WriteFile("doc.txt", "abc\ndef\nghi\n");
    WriteFile(".morvax_rc", "");
    std::string input = "X\nc\n2\nn\n" + std::string(1, command.default_key) + "\n3\n3\n3\n";
    Output out;
    std::FILE* in = InputFrom(input);
    Transcript t;
    t.ed = std::make_unique<Editor>();
    t.ed->io = Io{in, out.file()};
    t.ed->options.run_shell = [](const char*) {};
    const char* argv[] = {"morvax", "doc.txt"};
    ASSERT_TRUE(StartEditor(*t.ed, 2, argv));
    for (int turn = 0; turn < 3; ++turn) ASSERT_TRUE(RunTurn(*t.ed));
    ASSERT_EQ(t.Lines(), (std::vector<std::string>{"Xbc", "def", "ghi"})) << command.name;
    (void)RunTurn(*t.ed);  // the command, with every answer it asks for
    EXPECT_TRUE(t.Lines() == std::vector<std::string>({"Xbc", "def", "ghi"}) ||
                command.Has(kChangesDocument))
        << command.name;
    std::fclose(in);
    t.ed->io = Io{};
  }
}

}  // namespace
