// The 37 commands: their fixed names (used by the settings file), their keys (one character
// each, rebindable by the settings file), the handler that runs each one, and the order in
// which an input line is compared with the keys. Handlers live with their subsystems.
#pragma once

#include <array>

struct Editor;

enum CommandId : int {
  kPositionBack = 0,
  kPositionForw,
  kPositionDown,
  kPositionUp,
  kPositionBeg,
  kPositionEnd,
  kPageBack,
  kPageForw,
  kPageLength,
  kJumpLine,
  kJumpDoc,
  kLockTog,
  kGoToLine,
  kGoToPos,
  kAnchorGo,
  kAnchorSet,
  kLineClear,
  kLineMove,
  kLineInsert,
  kLineDelete,
  kLineCopy,
  kClipCopy,
  kClipCut,
  kClipPaste,
  kClipInsert,
  kNewInsert,
  kTrimEnd,
  kTrimWrap,
  kUndo,
  kSavePrompt,
  kSaveOverwrite,
  kOpen,
  kHelp,
  kNumTog,
  kCommandExec,
  kCommandEdit,
  kQuit,
};

inline constexpr int kCommandCount = 37;

using Handler = void (*)(Editor&);

struct Command {
  const char* name;  // settings-file name, e.g. "position_back"
  char default_key;  // key before the settings file is read
  Handler handler;   // runs the command on the whole editor state
};

/// Indexed by CommandId.
extern const std::array<Command, kCommandCount> kCommands;

/// First equal key wins.
extern const std::array<CommandId, kCommandCount> kDispatchOrder;

/// KeyNames and KeyValues: the command names and the keys in force, by CommandId.
struct KeyTable {
  char names[kCommandCount][16];
  char values[kCommandCount][2];
};

void MakeKeys(KeyTable& keys);
void SetDefaultValues(KeyTable& keys);

/// The command whose key the input (line end already removed) is, or -1 when it is text.
/// An input that begins with "!" is never a command, except `undo` bound to "!".
int FindCommand(const KeyTable& keys, const char* input);
