#include "app/file_commands.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "app/editor.h"
#include "core/messages.h"
#include "doc/load.h"
#include "doc/save.h"

void LoadBytes(Editor& ed, std::string_view bytes) {
  std::string_view text = TextOf(bytes);
  LineCount count = MarkLines(text, ed.lines(), ed.lsize(), ed.io);
  if (count.partial) {
    float percent = static_cast<float>(static_cast<double>(count.loaded) * 100.0 /
                                       static_cast<double>(text.size()));
    if (!DataWarning(ed.io, percent)) return ed.Stop(1);
  }
  ed.doc.ExpectFill(count.lines);
  ParseLines(text, ed.doc);
}

void LoadFile(Editor& ed, const char* name) {
  Fd fd;
  if (OpenToRead(name, fd) != 0) {
    Print(ed.io, msg::kFileNotFound, Shown(ed.io, name).c_str());
    return;
  }
  Block block(nullptr, &std::free);
  std::size_t size = 0;
  int err = ReadAll(fd.get(), block, size);
  fd.Close();
  if (err != 0) {
    Print(ed.io, msg::kCouldNotRead, Shown(ed.io, name).c_str(), std::strerror(err));
    return;
  }
  Print(ed.io, msg::kOpened, Shown(ed.io, name).c_str());
  Print(ed.io, msg::kReadBytes, static_cast<int>(size));
  LoadBytes(ed, {block.get(), size});
}

namespace {

// The questions before an `open`: false when there is nothing to open, else the name to open
// in `name` (kNameSize bytes).
bool OpenDialogue(Editor& ed, char* name) {
  Line(ed.io, msg::kOpenPrompt1);
  Line(ed.io, msg::kOpenPrompt2);
  Line(ed.io, msg::kOpenPrompt3);
  if (!ReadAnswer(ed.io, name, kNameSize) || std::strcmp(name, "x") == 0) return false;
  if (std::strcmp(name, "s") == 0) {
    if (!Save(ed)) return false;
    // At this prompt "x" and "s" are names like any other.
    Line(ed.io, msg::kOpenNext);
    if (!ReadAnswer(ed.io, name, kNameSize)) return false;
  }
  return true;
}

// Any entry at the name counts, readable or not, so that nothing is overwritten unasked.
bool Exists(const char* name) {
  struct stat st;
  return lstat(name, &st) == 0;
}

}  // namespace

// Leaving the dialogue keeps the current file name: it would point the next save at another
// file.
void OpenCommand(Editor& ed) {
  char name[kNameSize];
  if (!OpenDialogue(ed, name)) return;
  LoadFile(ed, name);
  if (ed.running) std::strcpy(ed.current_name, name);
}

bool Save(Editor& ed) {
  while (ed.current_name[0] == '\0') {
    Line(ed.io, msg::kSaveNamePrompt);
    if (!ReadAnswer(ed.io, ed.current_name, kNameSize)) {
      Print(ed.io, "%s", msg::kNoNameGiven);
      return false;
    }
  }
  std::size_t size = ImageSize(ed.doc);
  std::unique_ptr<char, decltype(&std::free)> image(static_cast<char*>(std::malloc(size)),
                                                    &std::free);
  int err = ENOMEM;
  if (image != nullptr) {
    ExpectFullUse(image.get(), size);
    FormatLines(ed.doc, {image.get(), size});
    err = WriteFileSafely(ed.current_name, {image.get(), size}, ed.options.fs);
  }
  if (err != 0) {
    Print(ed.io, msg::kCouldNotSave, Shown(ed.io, ed.current_name).c_str(), std::strerror(err));
  } else {
    Print(ed.io, msg::kSaved, Shown(ed.io, ed.current_name).c_str());
  }
  return true;
}

int DefineSaveName(Editor& ed) {
  char answer[kNameSize];
  Line(ed.io, msg::kSaveAsPrompt);
  if (!ReadAnswer(ed.io, answer, kNameSize) || std::strcmp(answer, "x") == 0) return 0;
  std::strcpy(ed.current_name, answer);
  if (!Exists(ed.current_name)) return 1;

  Line(ed.io, msg::kFileExists);
  Line(ed.io, msg::kNewNameOrOverwrite);
  if (!ReadAnswer(ed.io, answer, kNameSize)) return 0;
  if (std::strcmp(answer, "o") == 0) return 1;
  // From here on every answer is a name, "x" and "o" included.
  std::strcpy(ed.current_name, answer);
  while (Exists(ed.current_name)) {
    Line(ed.io, msg::kFileExistsAgain);
    if (!ReadAnswer(ed.io, answer, kNameSize)) return 0;
    std::strcpy(ed.current_name, answer);
  }
  return 1;
}

void SavePrompt(Editor& ed) {
  if (DefineSaveName(ed) == 1) Save(ed);
}

void SaveOverwrite(Editor& ed) {
  Save(ed);
}
