#include "app/help.h"

#include <span>

#include "app/commands.h"
#include "app/editor.h"
#include "app/messages.h"
#include "term/caret.h"

namespace {

// An entry is a command line, printed with the command's key in force, or one of these.
constexpr int kBlank = -1;  // an empty line
constexpr int kFixed = -2;  // text printed as it stands

struct HelpEntry {
  int id;            // CommandId, kBlank or kFixed
  const char* text;  // the fixed text with its line end; a command's line is in its row
};

// Commands are printed as "    'KEY' TEXT" from their rows. The order follows the sections,
// not the CommandIds: `num_tog` comes before `help`.
constexpr HelpEntry kNavigation[] = {
    {kFixed, "\nNavigation:\n----------\n"},
    {kBlank, nullptr},
    {kPositionBack, nullptr},
    {kPositionForw, nullptr},
    {kBlank, nullptr},
    {kPositionDown, nullptr},
    {kPositionUp, nullptr},
    {kBlank, nullptr},
    {kPositionBeg, nullptr},
    {kPositionEnd, nullptr},
    {kBlank, nullptr},
    {kPageBack, nullptr},
    {kPageForw, nullptr},
    {kPageLength, nullptr},
    {kBlank, nullptr},
    {kJumpLine, nullptr},
    {kJumpDoc, nullptr},
    {kBlank, nullptr},
    {kLockTog, nullptr},
    {kBlank, nullptr},
    {kGoToLine, nullptr},
    {kGoToPos, nullptr},
    {kBlank, nullptr},
    {kAnchorGo, nullptr},
    {kAnchorSet, nullptr},
    {kBlank, nullptr},
};

constexpr HelpEntry kEditing[] = {
    {kFixed, "\nEditing:\n-------\n"},
    {kBlank, nullptr},
    {kLineClear, nullptr},
    {kLineMove, nullptr},
    {kLineInsert, nullptr},
    {kLineDelete, nullptr},
    {kLineCopy, nullptr},
    {kBlank, nullptr},
    {kClipCopy, nullptr},
    {kClipCut, nullptr},
    {kBlank, nullptr},
    {kClipPaste, nullptr},
    {kClipInsert, nullptr},
    {kNewInsert, nullptr},
    {kBlank, nullptr},
    {kTrimEnd, nullptr},
    {kTrimWrap, nullptr},
    {kBlank, nullptr},
    {kUndo, nullptr},
    {kBlank, nullptr},
};

constexpr HelpEntry kFile[] = {
    {kFixed, "\nFile:\n----\n"},
    {kBlank, nullptr},
    {kFixed, "Filenames can be entered as 1st run argument\n"},
    {kBlank, nullptr},
    {kSavePrompt, nullptr},
    {kSaveOverwrite, nullptr},
    {kBlank, nullptr},
    {kOpen, nullptr},
    {kBlank, nullptr},
};

constexpr HelpEntry kMore[] = {
    {kBlank, nullptr},
    {kFixed, "    '!' followed by a command letter enters the letter and not the command\n"},
    {kNumTog, nullptr},
    {kHelp, nullptr},
    {kCommandExec, nullptr},
    {kCommandEdit, nullptr},
    {kQuit, nullptr},
    {kBlank, nullptr},
};

constexpr bool EveryCommandOnce() {
  int seen[kCommandCount] = {};
  for (auto section :
       {std::span<const HelpEntry>(kNavigation), std::span<const HelpEntry>(kEditing),
        std::span<const HelpEntry>(kFile), std::span<const HelpEntry>(kMore)}) {
    for (const HelpEntry& entry : section) {
      if (entry.id >= 0 && seen[entry.id]++ != 0) return false;
    }
  }
  for (int count : seen) {
    if (count != 1) return false;
  }
  return true;
}
static_assert(EveryCommandOnce(), "the help menu lists every command once");

constexpr const char* kMenu =
    "'n'  Navigation Commands\n"
    "'e'  Editing Commands\n"
    "'f'  File Commands\n"
    "'m'  More Commands\n"
    "'x'  Exit Help\n";

constexpr int kAnswerSize = 16;  // 15 characters a read

void PrintSection(Editor& ed, std::span<const HelpEntry> section) {
  for (const HelpEntry& entry : section) {
    if (entry.id == kBlank) {
      Print(ed.io, "\n");
    } else if (entry.id == kFixed) {
      Print(ed.io, "%s", entry.text);
    } else {
      const Command& command = kCommands[entry.id];
      if (command.fixed_key) {
        Print(ed.io, "    '%c' %s\n", command.default_key, command.help);
      } else {
        Print(ed.io, "    '%s' %s\n", Shown(ed.io, ed.keys.values[entry.id]).c_str(), command.help);
      }
    }
  }
}

}  // namespace

void Help(Editor& ed) {
  Print(ed.io, msg::kLimits, ed.lsize() - 1, ed.lines());
  Print(ed.io, "\n");
  char answer[kAnswerSize];
  for (;;) {
    Print(ed.io, "%s", kMenu);
    // The end of input leaves the help as "x" would; the old answer is never reused.
    if (!ReadAnswer(ed.io, answer, kAnswerSize)) return;
    switch (answer[0]) {
      case 'n':
        PrintSection(ed, kNavigation);
        break;
      case 'e':
        PrintSection(ed, kEditing);
        break;
      case 'f':
        PrintSection(ed, kFile);
        break;
      case 'm':
        PrintSection(ed, kMore);
        break;
      case 'x':
        return;
      default:
        break;
    }
  }
}
