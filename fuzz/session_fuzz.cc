// A whole editing session: the input is a settings file, a document and the keystrokes,
// separated by lines holding "%%". The editor runs in-process in a private temporary folder,
// on the small grids that the settings ask for, and its invariants are checked after every
// turn; after every save, the file holds exactly the document's image. The folder holds a
// sub-folder, symbolic links and a hard link for typed names to reach, and no descriptor may
// outlive a session. Shell commands are recorded, never run.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "app/commands.h"
#include "app/editor.h"
#include "check.h"
#include "doc/save.h"
#include "settings/rc.h"
#include "support.h"

namespace {

constexpr long long kMaxGridBytes = 1 << 16;

void Write(const char* name, std::string_view bytes) {
  std::FILE* f = std::fopen(name, "wb");
  Check(f != nullptr, "the work folder takes files");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

// The fuzzer's own folder, made once and emptied before every input; backups that a save
// keeps outside a target's folder go to its ".state" sub-folder.
char work_folder[64];  // removed when the fuzzer exits

void EnterWorkFolder() {
  if (work_folder[0] == '\0') {
    // In memory where there is a tmpfs: a save's flushes to disk cost nothing there.
    std::strcpy(work_folder, "/dev/shm/morvax-fuzz-XXXXXX");
    if (mkdtemp(work_folder) == nullptr) {
      std::strcpy(work_folder, "/tmp/morvax-fuzz-XXXXXX");
      if (mkdtemp(work_folder) == nullptr) std::abort();
    }
    if (chdir(work_folder) != 0) std::abort();
    setenv("XDG_STATE_HOME", (std::string(work_folder) + "/.state").c_str(), 1);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(work_folder, ignored);
    });
  }
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    std::filesystem::permissions(
        entry.path(), std::filesystem::perms::owner_all,
        std::filesystem::perm_options::add | std::filesystem::perm_options::nofollow, ignored);
    std::filesystem::remove_all(entry.path(), ignored);
  }
}

// Places for typed names to reach, all inside the folder: a sub-folder with a file that has a
// second name, links to a file, to a folder, to nothing, and to themselves.
void Furnish() {
  std::filesystem::create_directory("sub");
  Write("sub/inner.txt", "inner\n");
  link("sub/inner.txt", "hard.txt");
  symlink("doc.txt", "link");
  symlink("sub", "sublink");
  symlink("sub/new.txt", "dangling");
  symlink("loop", "loop");
}

// A regular file's bytes; nothing for anything else (no entry, a folder, a link to nothing).
std::optional<std::string> Contents(const std::string& name) {
  std::error_code ignored;
  if (!std::filesystem::is_regular_file(name, ignored)) return std::nullopt;
  std::ifstream f(name, std::ios::binary);
  if (!f) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(f), {});
}

// Open descriptors of this process (0 without /proc).
int Descriptors() {
  std::error_code ignored;
  int count = 0;
  for (std::filesystem::directory_iterator it("/proc/self/fd", ignored), end; it != end;
       it.increment(ignored)) {
    ++count;
  }
  return count;
}

// A save in progress, seen through the file-system seam at the step that commits it: the
// target, what it held, and the document's image then.
struct PendingSave {
  std::string target;
  std::optional<std::string> old;
  std::string image;
};

// After a save the target holds the document's image; or, when the save failed (and said
// so), its old content.
void CheckSave(std::optional<PendingSave>& save, const std::string& printed) {
  if (!save) return;
  std::optional<std::string> now = Contents(save->target);
  bool failed = printed.find("Could not save to ") != std::string::npos;
  Check(now == save->image || (failed && now == save->old), "the saved file holds the image");
  save.reset();
}

// Splits off the text before the next "\n%%\n".
std::string_view Take(std::string_view& rest) {
  std::size_t at = rest.find("\n%%\n");
  std::string_view part = rest.substr(0, at);
  rest = at == std::string_view::npos ? std::string_view() : rest.substr(at + 4);
  return part;
}

void CheckEditor(const Editor& ed) {
  Check(ed.cursor.line >= 0 && ed.cursor.line < ed.lines(), "cursor line inside the grid");
  Check(ed.cursor.column >= 0 && ed.cursor.column <= ed.lsize() - 1, "cursor column inside a slot");
  Check(ed.page_length >= 1, "page length at least 1");
  Check(ed.anchor >= 0 && ed.anchor <= ed.lsize() - 1, "anchor inside a slot");
  Check(ed.doc.CheckInvariant(), "every line within its limit, the index whole");
  Check(strnlen(ed.clip.get(), ed.lsize()) < static_cast<std::size_t>(ed.lsize()),
        "clipboard terminated");
  Check(strnlen(ed.current_name, kNameSize) < kNameSize, "file name terminated");
  Check(std::strchr(ed.launch_command, '\n') == nullptr, "launch command without line end");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  std::string_view settings = Take(rest);
  std::string_view document = Take(rest);
  std::string keys(rest);
  // Typed names stay inside the folder: none begins with "/" or climbs with "..".
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (keys[i] == '/' && (i == 0 || keys[i - 1] == '\n')) keys[i] = '_';
    if (keys[i] == '.' && i > 0 && keys[i - 1] == '.') keys[i] = '_';
  }

  // Only small grids: they keep every run fast and every slot checkable.
  KeyTable table{};
  MakeKeys(table);
  SetDefaultValues(table);
  GridSize grid;
  StartValues start;
  ApplySettings(settings, table, grid, start);
  if (static_cast<long long>(grid.lines) * grid.lsize > kMaxGridBytes) return 0;

  EnterWorkFolder();
  int descriptors = Descriptors();
  Write(kRcName, settings);
  Write("doc.txt", document);
  Furnish();

  std::FILE* in =
      keys.empty() ? std::fopen("/dev/null", "rb") : fmemopen(keys.data(), keys.size(), "rb");
  char* printed = nullptr;
  std::size_t printed_size = 0;
  std::FILE* out = open_memstream(&printed, &printed_size);
  {  // the session: the editor holds the file it read until it ends
    Editor ed;
    ed.io = Io{in, out};
    std::string recorded;
    ed.options.run_shell = [&recorded](const char* command) { recorded = command; };
    // The step that commits a save names its target: the rename over it, or its opening for an
    // in-place write (which a failed rename's fall-back may reach after a rename was tried).
    std::optional<PendingSave> save;
    ed.options.fs.before = [&ed, &save](FsStep step, const char* path) {
      if ((step == FsStep::kRename || step == FsStep::kOpenTarget) && !save) {
        std::string image(ImageSize(ed.doc), '\0');
        FormatLines(ed.doc, image);
        save = PendingSave{path, Contents(path), std::move(image)};
      }
      return 0;
    };
    // Checks a save made since the last call against what was printed since.
    std::size_t seen = 0;
    auto check_save = [&] {
      std::fflush(out);
      CheckSave(save, std::string(printed + seen, printed_size - seen));
      seen = printed_size;
    };
    const char* argv[] = {"morvax", "doc.txt"};
    if (StartEditor(ed, 2, argv)) {
      // Every turn reads at least one byte or ends the session.
      std::size_t turns = 0;
      do {
        check_save();
        CheckEditor(ed);
        Check(++turns <= keys.size() + 2, "a turn that reads nothing");
      } while (RunTurn(ed));
    }
    check_save();
  }
  std::fclose(in);
  std::fclose(out);
  std::free(printed);
  Check(Descriptors() == descriptors, "no descriptor outlives the session");
  return 0;
}
