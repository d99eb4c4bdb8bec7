#include "settings/help.h"

#include <span>

#include "core/editor.h"
#include "core/messages.h"

namespace {

// An entry is a command line, printed with the command's key in force, or one of these.
constexpr int kBlank = -1;  // an empty line
constexpr int kFixed = -2;  // text printed as it stands

struct HelpEntry {
  int id;            // CommandId, kBlank or kFixed
  const char* text;  // what the command does, or the fixed text with its line end
};

// Commands are printed as "    'KEY' TEXT". The order follows the sections, not the
// CommandIds: `num_tog` comes before `help`, and `open` has only a fixed line that names its
// default key.
constexpr HelpEntry kNavigation[] = {
    {kFixed, "\nNavigation:\n----------\n"},
    {kBlank, nullptr},
    {kPositionBack, "to move back a space"},
    {kPositionForw, "to move forward a space"},
    {kBlank, nullptr},
    // position_down goes towards line 1, which the help calls up.
    {kPositionDown, "to move up a line"},
    {kPositionUp, "to move down a line"},
    {kBlank, nullptr},
    {kPositionBeg, "to move to the beginning of a line"},
    {kPositionEnd, "to move to the end of a line"},
    {kBlank, nullptr},
    {kPageBack, "to move back a page"},
    {kPageForw, "to move forward a page"},
    {kPageLength, "to set page length"},
    {kBlank, nullptr},
    {kJumpLine, "to jump to a string in the line"},
    {kJumpDoc, "to jump to a string on current or later lines"},
    {kBlank, nullptr},
    {kLockTog, "to lock/unlock line switching"},
    {kBlank, nullptr},
    {kGoToLine, "to go to a line number"},
    {kGoToPos, "to go a position in a line"},
    {kBlank, nullptr},
    {kAnchorGo, "to move to an anchored position"},
    {kAnchorSet, "to set the anchored position"},
    {kBlank, nullptr},
};

constexpr HelpEntry kEditing[] = {
    {kFixed, "\nEditing:\n-------\n"},
    {kBlank, nullptr},
    {kLineClear, "to clear a line"},
    {kLineMove, "to move a line"},
    {kLineInsert, "to wedge (insert) a new line"},
    {kLineDelete, "to delete a line and shift lines up"},
    {kLineCopy, "to copy a whole line"},
    {kBlank, nullptr},
    {kClipCopy, "to copy text to memory"},
    {kClipCut, "to cut text to memory"},
    {kBlank, nullptr},
    {kClipPaste, "to paste text from memory by overwriting"},
    {kClipInsert, "to paste text from memory by inserting and shifting"},
    {kNewInsert, "to insert new text"},
    {kBlank, nullptr},
    {kTrimEnd, "to trim line at current position by deleting text"},
    {kTrimWrap, "to trim line and send extra text to next line"},
    {kBlank, nullptr},
    {kUndo, "to undo an edit"},
    {kBlank, nullptr},
};

constexpr HelpEntry kFile[] = {
    {kFixed, "\nFile:\n----\n"},
    {kBlank, nullptr},
    {kFixed, "Filenames can be entered as 1st run argument\n"},
    {kBlank, nullptr},
    {kSavePrompt, "to save a file with new name prompt"},
    {kSaveOverwrite, "to save a file using existing name"},
    {kBlank, nullptr},
    {kFixed, "    'O' to open a file and replace current buffer\n"},
    {kBlank, nullptr},
};

constexpr HelpEntry kMore[] = {
    {kBlank, nullptr},
    {kFixed, "    '!' followed by a command letter enters the letter and not the command\n"},
    {kNumTog, "to toggle the display of line numbers"},
    {kHelp, "to view help menu"},
    {kCommandExec, "to launch a command"},
    {kCommandEdit, "to enter the command to be launched"},
    {kQuit, "to quit"},
    {kBlank, nullptr},
};

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
      Print(ed.io, "    '%s' %s\n", ed.keys.values[entry.id], entry.text);
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
