#include "app/commands.h"

#include <cstring>

#include "app/edit_commands.h"
#include "app/file_commands.h"
#include "app/help.h"
#include "app/launch.h"
#include "app/loop.h"
#include "app/navigation.h"

constexpr std::array<Command, kCommandCount> kCommands = {{
    {kPositionBack, "position_back", 'b', PositionBack, "to move back a space", false},
    {kPositionForw, "position_forw", 'n', PositionForw, "to move forward a space", false},
    // position_down goes towards line 1, which the help calls up.
    {kPositionDown, "position_down", ',', PositionDown, "to move up a line", false},
    {kPositionUp, "position_up", '.', PositionUp, "to move down a line", false},
    {kPositionBeg, "position_beg", 'l', PositionBeg, "to move to the beginning of a line", false},
    {kPositionEnd, "position_end", 'e', PositionEnd, "to move to the end of a line", false},
    {kPageBack, "page_back", '<', PageBack, "to move back a page", false},
    {kPageForw, "page_forw", '>', PageForw, "to move forward a page", false},
    {kPageLength, "page_length", 'p', PageLength, "to set page length", false},
    {kJumpLine, "jump_line", 'j', JumpLine, "to jump to a string in the line", false},
    {kJumpDoc, "jump_doc", 'J', JumpDoc, "to jump to a string on current or later lines", false},
    {kLockTog, "lock_tog", 'L', LockTog, "to lock/unlock line switching", false},
    {kGoToLine, "go_to_line", 'g', GoToLine, "to go to a line number", false},
    {kGoToPos, "go_to_pos", 'G', GoToPos, "to go a position in a line", false},
    {kAnchorGo, "anchor_go", 'a', AnchorGo, "to move to an anchored position", false},
    {kAnchorSet, "anchor_set", 'A', AnchorSet, "to set the anchored position", false},
    {kLineClear, "line_clear", 'd', LineClear, "to clear a line", false},
    {kLineMove, "line_move", 'm', LineMove, "to move a line", false},
    {kLineInsert, "line_insert", 'w', LineInsert, "to wedge (insert) a new line", false},
    {kLineDelete, "line_delete", 'D', LineDelete, "to delete a line and shift lines up", false},
    {kLineCopy, "line_copy", 'C', LineCopy, "to copy a whole line", false},
    {kClipCopy, "clip_copy", 'c', ClipCopy, "to copy text to memory", false},
    {kClipCut, "clip_cut", 'x', ClipCut, "to cut text to memory", false},
    {kClipPaste, "clip_paste", 'v', ClipPaste, "to paste text from memory by overwriting", false},
    {kClipInsert, "clip_insert", 'V', ClipInsert,
     "to paste text from memory by inserting and shifting", false},
    {kNewInsert, "new_insert", 'i', NewInsert, "to insert new text", false},
    {kTrimEnd, "trim_end", 't', TrimEnd, "to trim line at current position by deleting text",
     false},
    {kTrimWrap, "trim_wrap", 'T', TrimWrap, "to trim line and send extra text to next line", false},
    {kUndo, "undo", 'z', Undo, "to undo an edit", false},
    {kSavePrompt, "save_prompt", 's', SavePrompt, "to save a file with new name prompt", false},
    {kSaveOverwrite, "save_overwrite", 'S', SaveOverwrite, "to save a file using existing name",
     false},
    {kOpen, "open", 'O', OpenCommand, "to open a file and replace current buffer", true},
    {kHelp, "help", 'h', Help, "to view help menu", false},
    {kNumTog, "num_tog", '#', NumTog, "to toggle the display of line numbers", false},
    {kCommandExec, "command_exec", '=', CommandExec, "to launch a command", false},
    {kCommandEdit, "command_edit", '+', CommandEdit, "to enter the command to be launched", false},
    {kQuit, "quit", 'q', Quit, "to quit", false},
}};

constexpr std::array<CommandId, kCommandCount> kDispatchOrder = {
    kPositionDown, kPositionUp, kPositionForw,  kPositionBack, kPageForw,   kPageBack, kPositionBeg,
    kLockTog,      kNumTog,     kJumpLine,      kJumpDoc,      kGoToLine,   kGoToPos,  kPositionEnd,
    kClipCopy,     kClipInsert, kClipPaste,     kLineClear,    kNewInsert,  kClipCut,  kTrimEnd,
    kTrimWrap,     kSavePrompt, kSaveOverwrite, kOpen,         kLineMove,   kLineCopy, kAnchorSet,
    kAnchorGo,     kLineInsert, kLineDelete,    kHelp,         kPageLength, kUndo,     kCommandExec,
    kCommandEdit,  kQuit,
};

namespace {

constexpr bool RowsInIdOrder() {
  for (int id = 0; id < kCommandCount; ++id) {
    if (kCommands[id].id != id) return false;
  }
  return true;
}

constexpr bool DispatchIsPermutation() {
  std::array<int, kCommandCount> seen{};
  for (CommandId id : kDispatchOrder) {
    if (id < 0 || id >= kCommandCount || seen[id]++ != 0) return false;
  }
  return true;
}

static_assert(RowsInIdOrder(), "one row per command, in CommandId order");
static_assert(DispatchIsPermutation(), "the dispatch order names every command once");

}  // namespace

void MakeKeys(KeyTable& keys) {
  for (int id = 0; id < kCommandCount; ++id) {
    std::strncpy(keys.names[id], kCommands[id].name, sizeof keys.names[id]);
  }
}

void SetDefaultValues(KeyTable& keys) {
  for (int id = 0; id < kCommandCount; ++id) {
    keys.values[id][0] = kCommands[id].default_key;
    keys.values[id][1] = '\0';
  }
}

int FindCommand(const KeyTable& keys, const char* input) {
  for (CommandId id : kDispatchOrder) {
    if (std::strcmp(input, keys.values[id]) != 0) continue;
    if (input[0] != '!' || id == kUndo) return id;
  }
  return -1;
}

bool ChangesDocument(int id) {
  switch (id) {
    case kLineClear:
    case kLineMove:
    case kLineInsert:
    case kLineDelete:
    case kLineCopy:
    case kClipCut:
    case kClipPaste:
    case kClipInsert:
    case kNewInsert:
    case kTrimEnd:
    case kTrimWrap:
    case kUndo:
      return true;
    default:
      return id < 0;
  }
}
