// The command table: one row a command, holding everything about it that is not its handler's
// code. The settings file's keys and their count, the order in which an input line is compared
// with the keys, the help menu's lines and which commands change the document all come from
// the rows, and the checks below the table hold them to it at compile time.
#pragma once

#include <array>
#include <string_view>

#include "app/edit_commands.h"
#include "app/file_commands.h"
#include "app/help.h"
#include "app/launch.h"
#include "app/loop.h"
#include "app/navigation.h"
#include "settings/rc.h"

struct Editor;

using Handler = void (*)(Editor&);

/// The help menu's sections, in the order of its menu.
enum class Section { kNavigation, kEditing, kFile, kMore };

/// Where a command stands in the help menu, and what it says there after its key.
struct HelpLine {
  Section section;
  /// The line within its section, from 1. Lines that no command and no fixed text of the
  /// section (app/help.cc) take are printed empty, so a gap in the numbers is a blank line.
  int line;
  const char* text;
};

// The flags of a row.
/// May change the document: the loop gets the memory for the cursor line's change first.
inline constexpr unsigned kChangesDocument = 1u << 0;
/// The help names the default key, whatever the key in force.
inline constexpr unsigned kHelpShowsDefaultKey = 1u << 1;
/// Bound to "!", the key runs this command instead of starting a "!" text.
inline constexpr unsigned kKeyMayBeBang = 1u << 2;

struct Command {
  // Every field is given in every row: no row leaves a handler or a help line out (the handler
  // is taken by reference, so it cannot be null).
  constexpr Command(const char* name, char default_key, void (&handler)(Editor&), int dispatch,
                    unsigned flags, HelpLine help)
      : name(name),
        default_key(default_key),
        handler(handler),
        dispatch(dispatch),
        flags(flags),
        help(help) {}

  const char* name;  // the settings file's name, e.g. "position_back"
  char default_key;  // the key before the settings file is read
  Handler handler;   // runs the command on the whole editor state
  int dispatch;      // its place in the order an input is compared with the keys: 0 first
  unsigned flags;
  HelpLine help;

  constexpr bool Has(unsigned flag) const { return (flags & flag) != 0; }
};

/// A row's index in kCommands.
using CommandId = int;

/// Every command, in the order the settings file lists them. Two commands bound to one key:
/// the lower `dispatch` runs.
// clang-format off
inline constexpr auto kCommands = std::to_array<Command>({
    // name            key  handler      dispatch  flags
    //   help: section, line, text
    {"position_back",  'b', PositionBack,   3, 0,
        {Section::kNavigation, 2, "to move back a space"}},
    {"position_forw",  'n', PositionForw,   2, 0,
        {Section::kNavigation, 3, "to move forward a space"}},
    // position_down goes towards line 1, which the help calls up.
    {"position_down",  ',', PositionDown,   0, 0,
        {Section::kNavigation, 5, "to move up a line"}},
    {"position_up",    '.', PositionUp,     1, 0,
        {Section::kNavigation, 6, "to move down a line"}},
    {"position_beg",   'l', PositionBeg,    6, 0,
        {Section::kNavigation, 8, "to move to the beginning of a line"}},
    {"position_end",   'e', PositionEnd,   13, 0,
        {Section::kNavigation, 9, "to move to the end of a line"}},
    {"page_back",      '<', PageBack,       5, 0,
        {Section::kNavigation, 11, "to move back a page"}},
    {"page_forw",      '>', PageForw,       4, 0,
        {Section::kNavigation, 12, "to move forward a page"}},
    {"page_length",    'p', PageLength,    32, 0,
        {Section::kNavigation, 13, "to set page length"}},
    {"jump_line",      'j', JumpLine,       9, 0,
        {Section::kNavigation, 15, "to jump to a string in the line"}},
    {"jump_doc",       'J', JumpDoc,       10, 0,
        {Section::kNavigation, 16, "to jump to a string on current or later lines"}},
    {"lock_tog",       'L', LockTog,        7, 0,
        {Section::kNavigation, 18, "to lock/unlock line switching"}},
    {"go_to_line",     'g', GoToLine,      11, 0,
        {Section::kNavigation, 20, "to go to a line number"}},
    {"go_to_pos",      'G', GoToPos,       12, 0,
        {Section::kNavigation, 21, "to go a position in a line"}},
    {"anchor_go",      'a', AnchorGo,      28, 0,
        {Section::kNavigation, 23, "to move to an anchored position"}},
    {"anchor_set",     'A', AnchorSet,     27, 0,
        {Section::kNavigation, 24, "to set the anchored position"}},
    {"line_clear",     'd', LineClear,     17, kChangesDocument,
        {Section::kEditing, 2, "to clear a line"}},
    {"line_move",      'm', LineMove,      25, kChangesDocument,
        {Section::kEditing, 3, "to move a line"}},
    {"line_insert",    'w', LineInsert,    29, kChangesDocument,
        {Section::kEditing, 4, "to wedge (insert) a new line"}},
    {"line_delete",    'D', LineDelete,    30, kChangesDocument,
        {Section::kEditing, 5, "to delete a line and shift lines up"}},
    {"line_copy",      'C', LineCopy,      26, kChangesDocument,
        {Section::kEditing, 6, "to copy a whole line"}},
    {"clip_copy",      'c', ClipCopy,      14, 0,
        {Section::kEditing, 8, "to copy text to memory"}},
    {"clip_cut",       'x', ClipCut,       19, kChangesDocument,
        {Section::kEditing, 9, "to cut text to memory"}},
    {"clip_paste",     'v', ClipPaste,     16, kChangesDocument,
        {Section::kEditing, 11, "to paste text from memory by overwriting"}},
    {"clip_insert",    'V', ClipInsert,    15, kChangesDocument,
        {Section::kEditing, 12, "to paste text from memory by inserting and shifting"}},
    {"new_insert",     'i', NewInsert,     18, kChangesDocument,
        {Section::kEditing, 13, "to insert new text"}},
    {"trim_end",       't', TrimEnd,       20, kChangesDocument,
        {Section::kEditing, 15, "to trim line at current position by deleting text"}},
    {"trim_wrap",      'T', TrimWrap,      21, kChangesDocument,
        {Section::kEditing, 16, "to trim line and send extra text to next line"}},
    {"undo",           'z', Undo,          33, kChangesDocument | kKeyMayBeBang,
        {Section::kEditing, 18, "to undo an edit"}},
    {"save_prompt",    's', SavePrompt,    22, 0,
        {Section::kFile, 4, "to save a file with new name prompt"}},
    {"save_overwrite", 'S', SaveOverwrite, 23, 0,
        {Section::kFile, 5, "to save a file using existing name"}},
    {"open",           'O', OpenCommand,   24, kHelpShowsDefaultKey,
        {Section::kFile, 7, "to open a file and replace current buffer"}},
    {"help",           'h', Help,          31, 0,
        {Section::kMore, 4, "to view help menu"}},
    {"num_tog",        '#', NumTog,         8, 0,
        {Section::kMore, 3, "to toggle the display of line numbers"}},
    {"command_exec",   '=', CommandExec,   34, 0,
        {Section::kMore, 5, "to launch a command"}},
    {"command_edit",   '+', CommandEdit,   35, 0,
        {Section::kMore, 6, "to enter the command to be launched"}},
    {"quit",           'q', Quit,          36, 0,
        {Section::kMore, 7, "to quit"}},
});
// clang-format on

inline constexpr int kCommandCount = static_cast<int>(kCommands.size());

namespace command_checks {

// Called only where CommandNamed finds no row: a call here cannot be evaluated at compile time.
inline void NoCommandHasThatName() {}

constexpr bool RowsComplete() {
  for (const Command& c : kCommands) {
    if (c.name == nullptr || c.name[0] == '\0' || c.default_key == '\0' || c.default_key == '\n' ||
        c.help.text == nullptr || c.help.line < 1) {
      return false;
    }
  }
  return true;
}

constexpr bool DispatchIsAPermutation() {
  std::array<int, kCommandCount> seen{};
  for (const Command& c : kCommands) {
    if (c.dispatch < 0 || c.dispatch >= kCommandCount || seen[c.dispatch]++ != 0) return false;
  }
  return true;
}

constexpr bool Distinct(auto same) {
  for (int a = 0; a < kCommandCount; ++a) {
    for (int b = a + 1; b < kCommandCount; ++b) {
      if (same(kCommands[a], kCommands[b])) return false;
    }
  }
  return true;
}

static_assert(RowsComplete(), "every row has a name, a key, a handler and a help line");
static_assert(DispatchIsAPermutation(),
              "the dispatch places are 0 to kCommandCount - 1, once each");
static_assert(Distinct([](const Command& a, const Command& b) {
                return a.default_key == b.default_key;
              }),
              "every command has a default key of its own");
static_assert(Distinct([](const Command& a, const Command& b) {
                return std::string_view(a.name) == b.name;
              }),
              "every command has a name of its own");
static_assert(Distinct([](const Command& a, const Command& b) {
                return a.help.section == b.help.section && a.help.line == b.help.line;
              }),
              "every command has a help line of its own");

}  // namespace command_checks

/// The row of the command with that settings-file name; a name no row has does not compile.
consteval CommandId CommandNamed(std::string_view name) {
  for (int id = 0; id < kCommandCount; ++id) {
    if (name == kCommands[id].name) return id;
  }
  command_checks::NoCommandHasThatName();
  return -1;
}

inline constexpr CommandId kHelp = CommandNamed("help");
inline constexpr CommandId kQuit = CommandNamed("quit");

/// The rows in the order an input is compared with the keys.
inline constexpr std::array<CommandId, kCommandCount> kDispatchOrder = [] {
  std::array<CommandId, kCommandCount> order{};
  for (int id = 0; id < kCommandCount; ++id) order[kCommands[id].dispatch] = id;
  return order;
}();

/// The command keys, by row: the names the settings file uses and the keys in force.
using KeyTable = std::array<Key, kCommandCount>;

/// Puts every command's name in its key.
void MakeKeys(KeyTable& keys);
/// Gives every command its default key.
void SetDefaultValues(KeyTable& keys);

/// Whether the command (or text entry, for -1) may change the document, and so must first
/// get the memory that the change may need.
bool ChangesDocument(int id);

/// The command whose key the input (line end already removed) is, or -1 when it is text.
/// An input that begins with "!" is never a command, except one that may be bound to "!".
int FindCommand(const KeyTable& keys, const char* input);
