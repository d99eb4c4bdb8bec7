// The document changes under the editor's feet between start-up and a save; the launch
// command (or the first step of a save) does the changing, as another program on the machine
// would.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "doc/save_names.h"
#include "session.h"

namespace {

TEST(Faults, DocumentDeletedBetweenStartAndSaveIsWrittenAgain) {
  TempDir dir;
  WriteFile("doc.txt", "one\ntwo\n");
  Transcript t = RunWithSettings("launch_command=rm doc.txt\n", "=\n!x\nS\n", {"doc.txt"});
  EXPECT_EQ(ReadFile("doc.txt"), "xne\ntwo\n");
  EXPECT_NE(t.out.find("Saved to doc.txt\n"), std::string::npos);
}

TEST(Faults, DocumentMadeUnreadableBetweenStartAndSaveKeepsItsMode) {
  TempDir dir;
  WriteFile("doc.txt", "one\n");
  Transcript t = RunWithSettings("launch_command=chmod 200 doc.txt\n", "=\nS\n", {"doc.txt"});
  struct stat info;
  ASSERT_EQ(stat("doc.txt", &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0200u);
  chmod("doc.txt", 0600);
  EXPECT_EQ(ReadFile("doc.txt"), "one\n");
  EXPECT_NE(t.out.find("Saved to doc.txt\n"), std::string::npos);
}

// What another program does to the file between this session's reads or saves and a later
// save, and what the save then asks. The change runs as the launch command (after `=` saved
// the document) or at the first step of the first save.
struct ChangeCase {
  const char* name;
  const char* file;  // the file's content at start-up; null: there is none
  std::string input;
  std::function<void()> change;
  bool at_first_step = false;
  std::vector<std::string> said = {};  // in this order ($TMP: the test's folder)
  int questions = 0;                   // how many times a change on disk or a split is asked
  std::string content = "";            // f.txt (or new.txt) at the end
  const char* path = nullptr;          // another name for new.txt
  int deep = 0;  // levels of folders of kDeep that the working folder lies deeper
  bool unlisted = false;  // and a folder above it cannot be listed, so it has no path at all
};

// A folder name of 200 bytes: 21 of them make a path longer than PATH_MAX.
const std::string kDeep(200, 'd');
// A line longer than the 255 characters a line holds.
const std::string kLong = std::string(300, 'a') + "\n";

struct stat StatOf(const char* name) {
  struct stat info = {};
  stat(name, &info);
  return info;
}

// Rewrites f.txt as `text`, then gives it back the modification time `mtime` (or the one it
// had before).
void Rewrite(const std::string& text, const struct timespec* mtime = nullptr) {
  struct stat before = StatOf("f.txt");
  // Past the clock's granularity, so that the rewrite's change time is a new one.
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  WriteFile("f.txt", text);
  struct timespec times[2] = {before.st_atim, mtime != nullptr ? *mtime : before.st_mtim};
  utimensat(AT_FDCWD, "f.txt", times, 0);
}

TEST(Faults, ChangeOnDiskIsAskedAboutWhateverTheSpelling) {
  const std::string changed = " was changed by another program since it was read; overwrite it? "
                              "(y/n)\nNothing was saved\n";
  const std::string created =
      "new.txt was created by another program since this session found it missing; overwrite "
      "it? (y/n)\n";
  const std::string split = " had lines longer than 255 characters, which were split when it was "
                            "read; save them split? (y/n)\n";
  const std::vector<ChangeCase> cases = {
      {"another spelling", "old\n", "mine\n=\ns\n./f.txt\no\nn\n",
       [] { WriteFile("f.txt", "theirs\n"); }, false,
       {"Saved to f.txt\n", "./f.txt" + changed}, 1, "theirs\n"},
      {"the absolute path", "old\n", "mine\n=\ns\n$TMP/f.txt\no\ny\n",
       [] { WriteFile("f.txt", "theirs\n"); }, false,
       {"$TMP/f.txt was changed by another program", "Saved to $TMP/f.txt\n"}, 1, "mine\n"},
      {"another name of the same file", "old\n", "mine\n=\ns\ng.txt\no\nn\n",
       [] {
         ASSERT_EQ(link("f.txt", "g.txt"), 0);
         WriteFile("f.txt", "theirs\n");
       },
       false, {"g.txt" + changed}, 1, "theirs\n"},
      {"created after it was found missing", nullptr, "mine\nS\nS\nn\nS\ny\n",
       [] { WriteFile("new.txt", "theirs\n"); }, true,
       {"File new.txt not found!\n",
        "Could not save to new.txt: the file changed while it was being saved\n",
        created + "Nothing was saved\n", created + "Saved to new.txt\n"},
       2, "mine\n"},
      // A taken name typed at the name prompt and confirmed is not asked about twice.
      {"created, then overwritten by name", nullptr, "mine\nS\ns\n\nnew.txt\ny\n",
       [] { WriteFile("new.txt", "theirs\n"); }, true,
       {"Could not save to new.txt: the file changed while it was being saved\n",
        "new.txt already exists; overwrite it? (y/n)\nSaved to new.txt\n"},
       0, "mine\n"},
      {"a yes cut at a NUL byte", "old\n", std::string("mine\n=\nS\ny\0x\n", 13),
       [] { WriteFile("f.txt", "theirs\n"); }, false,
       {"f.txt was changed by another program", "Text after a NUL byte was dropped\nNothing"},
       1, "theirs\n"},
      // The same size and the modification time put back: only the change time tells.
      {"rewritten with its time put back", "old\n", "mine\n=\nS\nn\n",
       [] { Rewrite("thei\n"); }, false, {"f.txt" + changed}, 1, "thei\n"},
      // The mode changed too, so the change time says nothing: the nanoseconds tell.
      {"rewritten within the same second", "old\n", "mine\n=\nS\nn\n",
       [] {
         struct timespec mtime = StatOf("f.txt").st_mtim;
         mtime.tv_nsec ^= 1;
         Rewrite("thei\n", &mtime);
         chmod("f.txt", 0640);
       },
       false, {"f.txt" + changed}, 1, "thei\n"},
      // A new file put at the name, as `sed -i`, `mv` or another session's save do.
      {"replaced by another file", "old\n", "mine\n=\nS\nn\n",
       [] {
         WriteFile("g.txt", "theirs\n");
         ASSERT_EQ(rename("g.txt", "f.txt"), 0);
       },
       false, {"f.txt was replaced by another file since it was read; overwrite it? (y/n)\nNothing"},
       0, "theirs\n"},
      // A new link and a new mode change no text.
      {"linked and made private", "old\n", "mine\n=\n!x\nS\n",
       [] {
         ASSERT_EQ(link("f.txt", "g.txt"), 0);
         chmod("f.txt", 0600);
       },
       false, {"Saved to f.txt\n", "Saved to f.txt\n"}, 0, "mine\nx\n"},
      // A new group is no change of the text, but is asked about all the same (only root can
      // give one here, and the input ends at the question; tests/shared_folder_test.sh reads it).
      {"given another group", "old\n", "mine\n=\nS\n",
       [] {
         std::this_thread::sleep_for(std::chrono::milliseconds(10));
         chown("f.txt", static_cast<uid_t>(-1), 4321);
       },
       false, {"Saved to f.txt\n"}, 0, "mine\n"},
      {"its folder made later, with the file", nullptr, "mine\n=\nS\nn\nS\ny\n",
       [] {
         ASSERT_EQ(mkdir("sub", 0755), 0);
         WriteFile("sub/new.txt", "theirs\n");
       },
       false,
       {"Could not save to sub/new.txt: No such file or directory\n",
        "sub/" + created + "Nothing was saved\n", "sub/" + created + "Saved to sub/new.txt\n"},
       2, "mine\n", "sub/new.txt"},
      // Another user's file, made before the original goes (so that its inode is not reused),
      // and a link to it in its place, or where nothing was.
      {"a link put in its place", "old\n", "mine\n=\nS\nn\n",
       [] {
         WriteFile("theirs.txt", "theirs\n");
         ASSERT_EQ(unlink("f.txt") | symlink("theirs.txt", "f.txt"), 0);
       },
       false, {"f.txt now leads to $TMP/theirs.txt through the link f.txt, not to the file that "
               "was read; save there? (y/n)\nNothing was saved\n"}, 0, "theirs\n"},
      {"a link put where it was missing", nullptr, "mine\nS\nS\ny\nS\n",
       [] {
         WriteFile("theirs.txt", "theirs\n");
         ASSERT_EQ(symlink("theirs.txt", "new.txt"), 0);
       },
       true, {"new.txt now leads to $TMP/theirs.txt through the link new.txt, not to the file "
              "that was read; save there? (y/n)\nSaved to new.txt\n", "\n  > Saved to new.txt\n"},
       0, "mine\n"},
      // A working folder whose path is longer than PATH_MAX, or that has none.
      {"created after it was found missing there, saved by another spelling", nullptr,
       "mine\ns\n../" + kDeep + "/new.txt\nS\nn\n", [] { WriteFile("new.txt", "theirs\n"); },
       true, {"../" + kDeep + "/" + created + "Nothing was saved\n"}, 1, "theirs\n", nullptr, 21},
      {"a working folder with no path", "old\n", "mine\n=\nS\nn\n",
       [] { WriteFile("f.txt", "theirs\n"); }, false, {"f.txt" + changed}, 1, "theirs\n",
       nullptr, 21, true},
      // Lines split at the load go back over the file they came from only after a "y".
      {"split lines, declined", kLong.c_str(), "S\nn\n", [] {}, false,
       {"f.txt" + split + "Nothing was saved\n"}, 1, kLong},
      {"split lines, declined by another spelling", kLong.c_str(), "s\n./f.txt\no\nn\n",
       [] {}, false, {"./f.txt" + split + "Nothing"}, 1, kLong},
      {"split lines, declined: nothing runs", kLong.c_str(), "=\nn\n",
       [] { WriteFile("f.txt", "theirs\n"); }, false, {"Nothing was saved"}, 1, kLong},
      {"split lines, saved elsewhere", kLong.c_str(), "s\ng.txt\n", [] {}, false,
       {"Saved to g.txt\n"}, 0, kLong},
      {"split lines, saved once, asked again after a load", kLong.c_str(),
       "S\ny\n=\nO\nf.txt\nS\nn\n", [] { WriteFile("f.txt", kLong); }, false,
       {split + "Saved to f.txt\n", "Saved to f.txt\n", split + "Nothing"}, 2, kLong},
  };
  for (const ChangeCase& c : cases) {
    TempDir dir;
    auto here = [&](std::string text) {
      for (std::size_t at; (at = text.find("$TMP")) != std::string::npos;)
        text.replace(at, 4, dir.path());
      return text;
    };
    for (int level = 0; level < c.deep; ++level) {
      ASSERT_EQ(mkdir(kDeep.c_str(), 0700) | chdir(kDeep.c_str()), 0);
    }
    // Searched but not read: only root finds the names in it.
    if (c.unlisted) {
      ASSERT_EQ(chmod("../..", 0100), 0);
    }
    const char* name = c.path != nullptr ? c.path : c.file != nullptr ? "f.txt" : "new.txt";
    if (c.file != nullptr) WriteFile(name, c.file);
    Options options;
    if (c.at_first_step) {
      options.fs.before = [&c, done = false](FsStep, const char*) mutable {
        if (!std::exchange(done, true)) c.change();
        return 0;
      };
    } else {
      options.run_shell = [&c](const char*) { c.change(); };
    }
    Transcript t = RunWithSettings("launch_command=true\n", here(c.input), {name}, options);
    std::size_t at = 0;
    for (const std::string& said : c.said) {
      at = t.out.find(here(said), at);
      EXPECT_NE(at, std::string::npos) << c.name << ": " << said << "\n" << t.out;
    }
    std::size_t asked = 0;
    for (const char* question : {"by another program", "split when it was read"}) {
      for (std::size_t q = 0; (q = t.out.find(question, q)) != std::string::npos; ++q) ++asked;
    }
    EXPECT_EQ(asked, static_cast<std::size_t>(c.questions)) << c.name;
    EXPECT_EQ(ReadFile(name), c.content) << c.name;
    // No path names the deepest folders: they are removed from within.
    if (c.unlisted) chmod("../..", 0700);
    for (int level = 0; level < c.deep; ++level) {
      for (const auto& entry : std::filesystem::directory_iterator(".")) {
        std::filesystem::remove_all(entry.path());
      }
      ASSERT_EQ(chdir("..") | rmdir(kDeep.c_str()), 0);
    }
  }
}

// Memory refused where no change reserved it, in the launch command, ends the session as a
// terminating signal does: the unsaved text goes to the recovery file. A save that meets it
// (here as its complete temporary file is put in place) fails, leaves no file and goes on.
TEST(Faults, MemoryRefusedOutsideAChangeEndsTheSession) {
  const std::string said = "Not enough memory to go on\n";
  const std::vector<ChangeCase> cases = {
      {"at a save", nullptr, "mine\nS\nf.txt\nq\nq\n", [] { throw std::bad_alloc(); }, true,
       {"Could not save to f.txt: Cannot allocate memory\n"}, 0, ""},
      {"in the launch command", nullptr, "mine\n=\nf.txt\nmore\n", [] { throw std::bad_alloc(); },
       false, {"Saved to f.txt\n" + said}, 0, "mine\n"},
  };
  for (const ChangeCase& c : cases) {
    TempDir dir;
    Options options;
    options.fs.before = [&c](FsStep step, const char*) {
      if (c.at_first_step && step == FsStep::kRename) c.change();
      return 0;
    };
    options.run_shell = [&c](const char*) { c.change(); };
    Transcript t = RunWithSettings("launch_command=true\n", c.input, {}, options);
    EXPECT_NE(t.out.find(c.said[0]), std::string::npos) << c.name << ": " << t.out;
    EXPECT_EQ(t.status, 1) << c.name;
    EXPECT_EQ(ReadFile("f.txt"), c.content) << c.name;
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
      EXPECT_FALSE(IsTempOf(entry.path().filename().string(), "f.txt")) << entry.path();
    }
  }
}

}  // namespace
