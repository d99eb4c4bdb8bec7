#include "core/keys.h"

#include <cstring>

#include "core/loop.h"
#include "core/navigation.h"
#include "doc/load.h"
#include "doc/save.h"
#include "edit/clipboard.h"
#include "edit/line_commands.h"
#include "edit/text_entry.h"
#include "edit/undo.h"
#include "settings/help.h"
#include "settings/launch.h"

const std::array<Command, kCommandCount> kCommands = {{
    {"position_back", 'b', PositionBack},
    {"position_forw", 'n', PositionForw},
    {"position_down", ',', PositionDown},
    {"position_up", '.', PositionUp},
    {"position_beg", 'l', PositionBeg},
    {"position_end", 'e', PositionEnd},
    {"page_back", '<', PageBack},
    {"page_forw", '>', PageForw},
    {"page_length", 'p', PageLength},
    {"jump_line", 'j', JumpLine},
    {"jump_doc", 'J', JumpDoc},
    {"lock_tog", 'L', LockTog},
    {"go_to_line", 'g', GoToLine},
    {"go_to_pos", 'G', GoToPos},
    {"anchor_go", 'a', AnchorGo},
    {"anchor_set", 'A', AnchorSet},
    {"line_clear", 'd', LineClear},
    {"line_move", 'm', LineMove},
    {"line_insert", 'w', LineInsert},
    {"line_delete", 'D', LineDelete},
    {"line_copy", 'C', LineCopy},
    {"clip_copy", 'c', ClipCopy},
    {"clip_cut", 'x', ClipCut},
    {"clip_paste", 'v', ClipPaste},
    {"clip_insert", 'V', ClipInsert},
    {"new_insert", 'i', NewInsert},
    {"trim_end", 't', TrimEnd},
    {"trim_wrap", 'T', TrimWrap},
    {"undo", 'z', Undo},
    {"save_prompt", 's', SavePrompt},
    {"save_overwrite", 'S', SaveOverwrite},
    {"open", 'O', OpenCommand},
    {"help", 'h', Help},
    {"num_tog", '#', NumTog},
    {"command_exec", '=', CommandExec},
    {"command_edit", '+', CommandEdit},
    {"quit", 'q', Quit},
}};

const std::array<CommandId, kCommandCount> kDispatchOrder = {
    kPositionDown, kPositionUp, kPositionForw,  kPositionBack, kPageForw,   kPageBack, kPositionBeg,
    kLockTog,      kNumTog,     kJumpLine,      kJumpDoc,      kGoToLine,   kGoToPos,  kPositionEnd,
    kClipCopy,     kClipInsert, kClipPaste,     kLineClear,    kNewInsert,  kClipCut,  kTrimEnd,
    kTrimWrap,     kSavePrompt, kSaveOverwrite, kOpen,         kLineMove,   kLineCopy, kAnchorSet,
    kAnchorGo,     kLineInsert, kLineDelete,    kHelp,         kPageLength, kUndo,     kCommandExec,
    kCommandEdit,  kQuit,
};

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
