// The 37 commands, one row each: the fixed name the settings file uses, the default key, the
// handler that runs it and its line in the help menu. The order in which an input line is
// compared with the keys, and the help menu's layout, are checked against the rows at compile
// time. Handlers live with their subsystems under app/.
#pragma once

#include <array>

#include "settings/rc.h"

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
  kCommandCount
};

static_assert(kCommandCount == kKeyCount, "the settings file has one key for each command");

using Handler = void (*)(Editor&);

// Every field is given in every row: the constructor leaves no handler or help line out.
struct Command {
  constexpr Command(CommandId id, const char* name, char default_key, Handler handler,
                    const char* help, bool fixed_key)
      : id(id),
        name(name),
        default_key(default_key),
        handler(handler),
        help(help),
        fixed_key(fixed_key) {}

  CommandId id;
  const char* name;  // settings-file name, e.g. "position_back"
  char default_key;  // key before the settings file is read
  Handler handler;   // runs the command on the whole editor state
  const char* help;  // its line in the help menu, after the key
  bool fixed_key;    // the help line names the default key, whatever the key in force
};

/// Indexed by CommandId.
extern const std::array<Command, kCommandCount> kCommands;

/// First equal key wins.
extern const std::array<CommandId, kCommandCount> kDispatchOrder;

void MakeKeys(KeyTable& keys);
void SetDefaultValues(KeyTable& keys);

/// Whether the command (or text entry, for -1) may change the document, and so must first
/// get the memory that the change may need.
bool ChangesDocument(int id);

/// The command whose key the input (line end already removed) is, or -1 when it is text.
/// An input that begins with "!" is never a command, except `undo` bound to "!".
int FindCommand(const KeyTable& keys, const char* input);
