#include "app/help.h"

#include "app/commands.h"
#include "app/editor.h"
#include "app/messages.h"
#include "app/reads.h"
#include "term/caret.h"

namespace {

// What a section prints besides its commands: its heading, and one fixed line of text.
struct SectionText {
  Section section;
  char letter;             // the menu's answer that shows it
  const char* heading;     // printed first, as it stands
  int fixed_line;          // the line (from 1) of the fixed text; 0: none
  const char* fixed_text;  // with its line end
};

// A section prints its heading, then its lines from 1 to the last one taken (a command's or
// the fixed text; any other line is empty), then an empty line.
constexpr SectionText kSections[] = {
    {Section::kNavigation, 'n', "\nNavigation:\n----------\n", 0, nullptr},
    {Section::kEditing, 'e', "\nEditing:\n-------\n", 0, nullptr},
    {Section::kFile, 'f', "\nFile:\n----\n", 2, "Filenames can be entered as 1st run argument\n"},
    {Section::kMore, 'm', "", 2,
     "    '!' followed by a command letter enters the letter and not the command\n"},
};

// Every command is printed in a section, on a line of its own.
constexpr bool EveryCommandInASection() {
  for (const Command& command : kCommands) {
    int sections = 0;
    for (const SectionText& s : kSections) {
      if (command.help.section != s.section) continue;
      if (command.help.line == s.fixed_line) return false;
      ++sections;
    }
    if (sections != 1) return false;
  }
  return true;
}
static_assert(EveryCommandInASection(),
              "each command's help line lies in one listed section, "
              "off its fixed text's line");

constexpr const char* kMenu =
    "'n'  Navigation Commands\n"
    "'e'  Editing Commands\n"
    "'f'  File Commands\n"
    "'m'  More Commands\n"
    "'x'  Exit Help\n";

constexpr int kAnswerSize = 16;  // 15 characters a read

void PrintCommand(Editor& ed, CommandId id) {
  const Command& command = kCommands[id];
  if (command.Has(kHelpShowsDefaultKey)) {
    Print(ed.io, "    '%c' %s\n", command.default_key, command.help.text);
  } else {
    Print(ed.io, "    '%s' %s\n", Shown(ed.io, ed.keys[id].value).c_str(), command.help.text);
  }
}

void PrintSection(Editor& ed, const SectionText& section) {
  int last = section.fixed_line;
  for (const Command& command : kCommands) {
    if (command.help.section == section.section && command.help.line > last) {
      last = command.help.line;
    }
  }
  Print(ed.io, "%s", section.heading);
  for (int line = 1; line <= last; ++line) {
    CommandId id = 0;
    while (id < kCommandCount &&
           (kCommands[id].help.section != section.section || kCommands[id].help.line != line)) {
      ++id;
    }
    if (id < kCommandCount) {
      PrintCommand(ed, id);
    } else if (line == section.fixed_line) {
      Print(ed.io, "%s", section.fixed_text);
    } else {
      Print(ed.io, "\n");
    }
  }
  Print(ed.io, "\n");
}

}  // namespace

void Help(Editor& ed) {
  Print(ed.io, msg::kLimits, ed.lsize() - 1, ed.lines());
  Print(ed.io, "\n");
  char answer[kAnswerSize];
  for (;;) {
    StartQuestion(ed.io);  // the menu, not the section above it
    Print(ed.io, "%s", kMenu);
    // The end of input leaves the help as "x" would; the old answer is never reused.
    if (!IsLine(ReadAnswer(ed, answer, kAnswerSize))) return;
    if (answer[0] == 'x') return;
    for (const SectionText& section : kSections) {
      if (answer[0] == section.letter) PrintSection(ed, section);
    }
  }
}
