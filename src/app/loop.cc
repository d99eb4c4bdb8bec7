#include "app/loop.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/commands.h"
#include "app/edit_commands.h"
#include "app/editor.h"
#include "app/file_commands.h"
#include "app/messages.h"
#include "app/navigation.h"
#include "app/reads.h"
#include "app/rescue.h"
#include "app/session_journal.h"
#include "app/view.h"
#include "core/signals.h"
#include "settings/rc.h"
#include "term/caret.h"
#include "term/line_editor.h"

void Quit(Editor& ed) {
  Line(ed.io, msg::kQuitConfirm);
  char* answer = ed.command_input.get();
  Read read = ReadLine(ed, answer, ed.command_input_size());
  // Only an end of input for good ends the program here; Ctrl-D at a terminal leaves the quit.
  if (read == Read::kEnd) {
    Print(ed.io, "\n");
    ed.Finish();
  } else if (IsYes(read, answer, "q\n")) {
    ed.Finish();
  }
}

namespace {

// The read at the command prompt gave no line (`read`). False when the session ends here.
[[nodiscard]] bool CommandReadFailed(Editor& ed, Read read) {
  if (TakeEndingSignal(ed)) return false;
  if (read == Read::kOutputFailed) {
    WriteRecovery(ed);
    ed.Stop(1);
    return false;
  }
  if (!IsEnd(read)) return true;  // interrupted at the terminal: the view again
  if (ed.io.terminal && ed.modified() && !ed.end_warned) {
    Line(ed.io, msg::kUnsavedAtEnd);
    ed.end_warned = true;
    return true;
  }
  Print(ed.io, "\n");
  ed.Finish();
  return false;
}

// The view before the command read. Without `with_prompt`: printed again above the line
// editor's prompt after a suspend.
void ShowView(Editor& ed, bool with_prompt) {
  Display(ed.cursor, ed.page_length - 1, ed.doc, ed.show_numbers, ed.current_name, ed.io,
          with_prompt);
}

[[nodiscard]] bool Turn(Editor& ed) {
  if (!ed.running || TakeEndingSignal(ed)) return false;
  NewTurn(ed.io);
  ShowView(ed, true);

  char* input = ed.command_input.get();
  Read read = ReadLine(ed, input, ed.command_input_size(), Asks::kCommand);
  if (!IsLine(read)) return CommandReadFailed(ed, read);
  ed.end_warned = false;
  // A line that lost characters is text, however it begins; so is a line cut at a NUL byte,
  // and a pasted line, even an empty one, which keeps its "!".
  bool shortened = IsCut(read);
  bool pasted = IsPasted(read);
  bool text = shortened || pasted || HeldNul(read);
  if (!text && std::strcmp(input, "\n") == 0 && ed.cursor.line < ed.lines() - 1) {
    ++ed.cursor.line;
    return true;
  }
  StripLineEnd(input);

  int id = text ? -1 : FindCommand(ed.keys, input);
  // Every change gets its own memory, whole or not at all; asking ahead refuses a command whose
  // change would find none before it asks anything.
  if (ChangesDocument(id) && !ed.doc.AskAhead(ed.cursor.line + 1).ok()) {
    Line(ed.io, msg::kNoMemoryForChange);
    return ed.running && !TakeEndingSignal(ed);
  }
  if (id >= 0) {
    kCommands[id].handler(ed);
  } else {
    // "!" turns the rest of the line into text; "!" alone is the empty text.
    if (input[0] == '!' && !pasted) std::memmove(input, input + 1, std::strlen(input));
    TextEntry(ed, input, shortened);
  }
  JournalChanges(ed);
  return ed.running && !TakeEndingSignal(ed);
}

// Line editing, when both streams are terminals; a step of it that fails leaves it off.
[[nodiscard]] bool OpenLineEditor(Editor& ed, int out_fd) {
  if (!ed.io.terminal || !ed.io.out_terminal) return true;
  const char* failed = nullptr;
  std::unique_ptr<LineEditor> editor = LineEditor::Open(
      ed.io.in, ed.io.out, out_fd,
      [&ed](Asks asks) {
        if (asks == Asks::kCommand) return ShowView(ed, false);
        std::fputs(ed.io.question.c_str(), ed.io.out);
      },
      failed);
  // A stop may last: the journal is on disk before it.
  if (editor) editor->BeforeStop([&ed] { JournalFlush(ed); });
  ed.line_editor = std::move(editor);
  ed.io.editor = ed.line_editor.get();
  if (failed != nullptr) EditingOff(ed, failed);
  return true;
}

}  // namespace

bool RunTurn(Editor& ed) {
  if (Guarded(ed, [&] { return Turn(ed); })) return true;
  JournalEnd(ed);
  return false;
}

int RunEditor(int argc, const char* const* argv, Io io, Options options) {
  io.terminal = isatty(fileno(io.in)) == 1;
  io.out_terminal = isatty(fileno(io.out)) == 1;
  io.err_terminal = isatty(fileno(io.err)) == 1;
  // Taken now for either terminal: the rescue may tell on standard error when memory is out.
  if (io.out_terminal || io.err_terminal) io.utf8 = UserCharsetIsUtf8();
  // Both outputs go on after a signal (core/io.h). The line editor writes through them too,
  // so they outlive it.
  int out_fd = fileno(io.out);
  RetryingStream out(out_fd, io.terminal);
  RetryingStream err(fileno(io.err), io.terminal);
  if (out.get() == nullptr || err.get() == nullptr) {
    // Before any input is read; the C library's own stream writes unbuffered without memory.
    std::fputs(msg::kNoMemoryToGoOn, io.out);
    std::fputc('\n', io.out);
    std::fflush(io.out);
    return 1;
  }
  io.out = out.get();
  io.err = err.get();
  Editor ed;
  ed.io = std::move(io);
  ed.options = std::move(options);
  InstallSignalHandlers();
  if (Guarded(ed, [&] { return OpenLineEditor(ed, out_fd); }) && StartEditor(ed, argc, argv)) {
    while (RunTurn(ed)) {
    }
  }
  std::fflush(ed.io.out);
  return ed.exit_status;
}
