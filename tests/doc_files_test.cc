// Documents against the file system: what a failed save leaves behind, links, permissions,
// devices and FIFOs, and the round trip of random documents through save and load.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "doc/file_system.h"
#include "core/io.h"
#include "core/path.h"
#include "doc/load.h"
#include "doc/save.h"
#include "doc/save_names.h"
#include "session.h"
#include "support.h"

namespace {

using Lines = std::vector<std::string>;

bool IsRoot() {
  return geteuid() == 0;
}

#define SKIP_AS_ROOT()                                                    \
  if (IsRoot())                                                           \
  GTEST_SKIP() << "running as root: permissions refuse nothing, so this " \
                  "refusal cannot be provoked"

// A text with the random part of backup and temporary names as XXXXXX and the test's folder
// as $TMP.
std::string Unrandom(const std::string& text) {
  static const std::regex random("morvax-(backup|save)-[A-Za-z0-9]{6}");
  std::string out = std::regex_replace(text, random, "morvax-$1-XXXXXX");
  std::string folder = std::filesystem::current_path().string();
  for (std::size_t at; (at = out.find(folder)) != std::string::npos;)
    out.replace(at, folder.size(), "$TMP");
  return out;
}

// Names in the folder other than the settings file: a save must leave no temporary files.
std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::string name = Unrandom(entry.path().filename().string());
    if (name != ".morvax_rc") names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

mode_t Mode(const std::string& name) {
  struct stat st;
  return stat(name.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Saves the document "doc" through the `save_overwrite` name prompt, saying yes to overwriting
// a name that is taken.
Transcript SaveDocAs(const std::string& name, Options options = {}) {
  std::string yes = FileExists(name) ? "y\n" : "";
  return RunWithSettings("", "doc\nS\n" + name + "\n" + yes, {}, std::move(options));
}

// The steps a save of "doc" to `name` (after `setup` in a fresh folder) asks the seam about: the
// plan the save chose, in the order first asked, and with `fallbacks`, the steps that stand in
// for a failed one (each step seen is failed in turn, until no new step shows).
std::vector<FsStep> PlanSteps(const std::function<void()>& setup, const std::string& name,
                              bool fallbacks) {
  std::vector<FsStep> seen;
  auto run = [&](std::optional<FsStep> fail) {
    TempDir dir;
    setup();
    Options options;
    options.fs.before = [&](FsStep step, const char*) {
      if (std::find(seen.begin(), seen.end(), step) == seen.end()) seen.push_back(step);
      return step == fail ? EIO : 0;
    };
    (void)SaveDocAs(name, options);
  };
  run(std::nullopt);
  for (std::size_t i = 0; fallbacks && i < seen.size(); ++i) run(seen[i]);
  return seen;
}

// A seam that fails each step named with its errno, for paths that start with `under`.
struct Fault {
  FsStep step;
  int err;
  std::string under = "";
};

Options Failing(std::vector<Fault> faults) {
  Options options;
  options.fs.before = [faults](FsStep step, const char* path) {
    for (const Fault& f : faults) {
      if (f.step == step && std::string_view(path).starts_with(f.under)) return f.err;
    }
    return 0;
  };
  return options;
}

// Whether the test's folder lets a finished file be exchanged with its target.
bool Exchanges() {
  WriteFile("x1", "");
  WriteFile("x2", "");
  bool works = renameat2(AT_FDCWD, "x1", AT_FDCWD, "x2", RENAME_EXCHANGE) == 0;
  unlink("x1");
  unlink("x2");
  return works;
}

// The extended attributes of `name`, and their values.
std::map<std::string, std::string> Attributes(const char* name) {
  std::map<std::string, std::string> attributes;
  char list[4096];
  ssize_t size = listxattr(name, list, sizeof list);
  for (ssize_t at = 0; at < size; at += static_cast<ssize_t>(std::strlen(list + at)) + 1) {
    char value[4096];
    ssize_t n = getxattr(name, list + at, value, sizeof value);
    attributes[list + at] = std::string(value, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
  }
  return attributes;
}

// The bytes of a POSIX ACL as the kernel keeps it in an extended attribute: a version, then
// {tag, permissions, id} for each entry, little-endian, in order of tag and id.
std::string Acl(std::vector<std::array<std::uint32_t, 3>> entries) {
  std::string bytes;
  auto put = [&](std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes.push_back(static_cast<char>(value >> (8 * i)));
  };
  put(2, 4);
  for (const auto& [tag, permissions, id] : entries) {
    put(tag, 2);
    put(permissions, 2);
    put(id, 4);
  }
  return bytes;
}
constexpr std::uint32_t kOwner = 1, kUser = 2, kGroup = 4, kMask = 0x10, kOther = 0x20;
constexpr std::uint32_t kNoId = 0xFFFFFFFF;

// Resolves `path` and saves `bytes` there.
SaveResult WriteFileSafely(const char* path, const Pieces& bytes) {
  Target target;
  Status found = Resolve(path, target);
  if (!found.ok()) return {SaveOutcome::kFailed, found.err, {}};
  return WriteFileSafely(target, bytes);
}

// Saves "doc" to `target` as `user` (in a child, whose group is `group`, the user's by default,
// and who is in the supplementary groups `groups`) and reports as the editor would.
std::string SaveAsUser(uid_t user, const std::string& target, gid_t group = kNoId,
                       const std::vector<gid_t>& groups = {}) {
  if (pid_t child = fork(); child == 0) {
    group = group == kNoId ? user : group;
    if (setgroups(groups.size(), groups.data()) != 0 || setresgid(group, group, group) != 0 ||
        setresuid(user, user, user) != 0) {
      _exit(1);
    }
    _exit(WriteFileSafely(target.c_str(), std::string_view("doc\n")).saved() ? 0 : 1);
  } else {
    int status = -1;
    waitpid(child, &status, 0);
    return status == 0 ? "Saved to " + target + "\n"
                       : "Could not save to " + target + ": Permission denied\n";
  }
}

// The inode flags of `path`, or sets them: false where the file system keeps none.
bool InodeFlags(const char* path, int& flags, bool set = false) {
  int fd = open(path, O_RDONLY | O_NONBLOCK);
  bool done = ioctl(fd, set ? FS_IOC_SETFLAGS : FS_IOC_GETFLAGS, &flags) == 0;
  close(fd);
  return done;
}

// The line that reports how the save went.
std::string SaveReport(const Transcript& t) {
  const std::string& out = t.out;
  for (const char* start : {"\nSaved to ", "\nCould not save to "}) {
    std::size_t at = out.find(start);
    if (at != std::string::npos) return out.substr(at + 1, out.find('\n', at + 1) - at);
  }
  return "<no report>";
}

// ---------------------------------------------------------------------------------------------
// Saves that cannot be completed: reported, the document kept, the old file untouched.
// ---------------------------------------------------------------------------------------------

struct FailureCase {
  const char* name;
  std::function<void()> setup;
  std::string target;
  std::string report;        // the line printed instead of "Saved to"
  std::string folder = ".";  // checked for leftovers
  std::vector<std::string> entries = {};
  std::string old_file = "";  // a file whose old content must survive
  std::string old_content = "";
  Options options = {};  // failures injected through the seam
};

void RunFailureCases(const std::vector<FailureCase>& cases) {
  for (const FailureCase& c : cases) {
    TempDir dir;
    c.setup();
    Transcript t = SaveDocAs(c.target, c.options);
    EXPECT_EQ(Unrandom(SaveReport(t)), c.report) << c.name;
    EXPECT_EQ(t.Lines(), (Lines{"doc"})) << c.name;
    EXPECT_EQ(t.ed->current_name, c.target) << c.name;
    EXPECT_EQ(t.status, 1) << c.name << ": the last save failed";
    EXPECT_EQ(Entries(c.folder), c.entries) << c.name << ": leftovers";
    if (!c.old_file.empty()) {
      EXPECT_EQ(ReadFile(c.old_file), c.old_content) << c.name;
    }
  }
}

TEST(SaveFailure, ReportedWithTheDocumentAndTheOldFileKept) {
  RunFailureCases({
      {"missing folder",
       [] {},
       "nodir/f",
       "Could not save to nodir/f: No such file or directory\n",
       ".",
       {}},
      {"path below a regular file",
       [] { WriteFile("reg", "regular\n"); },
       "reg/f",
       "Could not save to reg/f: Not a directory\n",
       ".",
       {"reg"},
       "reg",
       "regular\n"},
      {"a full disk",
       [] {},
       "/dev/full",
       "Could not save to /dev/full: No space left on device\n",
       ".",
       {}},
      {"a folder",
       [] { mkdir("d", 0755); },
       "d",
       "Could not save to d: Is a directory\n",
       ".",
       {"d"}},
  });
  struct stat st;
  ASSERT_EQ(stat("/dev/full", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode)) << "a device is written in place, never replaced";
}

TEST(SaveFailure, RefusedByPermission) {
  SKIP_AS_ROOT();
  RunFailureCases({
      {"read-only folder",
       [] { mkdir("ro", 0555); },
       "ro/f",
       "Could not save to ro/f: Permission denied\n",
       "ro",
       {}},
      {"read-only file",
       [] {
         WriteFile("locked", "old content\n");
         chmod("locked", 0444);
       },
       "locked",
       "Could not save to locked: Permission denied\n",
       ".",
       {"locked"},
       "locked",
       "old content\n"},
      {"read-only file behind a symbolic link",
       [] {
         WriteFile("locked", "old content\n");
         chmod("locked", 0444);
         ASSERT_EQ(symlink("locked", "link"), 0);
       },
       "link",
       "Could not save to link: Permission denied\n",
       ".",
       {"link", "locked"},
       "locked",
       "old content\n"},
  });
}

// A write that fails part way (here: beyond the file size limit) must not cost the old
// content, whether the file is replaced by a rename or, having two names, written in place,
// where it is refused before the write begins: its size cannot be reserved.
TEST(SaveFailure, FailedWriteLeavesTheOldContentWhole) {
  for (bool hard_link : {false, true}) {
    TempDir dir;
    std::string text;
    for (int i = 0; i < 20; ++i) text += std::string(99, 'w') + "\n";
    WriteFile("src", text);
    WriteFile("old", "old content\n");
    if (hard_link) {
      ASSERT_EQ(link("old", "other"), 0);
    }

    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit low = saved;
    low.rlim_cur = 1000;
    auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
    bool wrote = false;
    Options watched;
    watched.fs.before = [&wrote](FsStep step, const char*) {
      wrote = wrote || step == FsStep::kWrite;
      return 0;
    };
    Transcript t = RunWithSettings("", "s\nold\no\n", {"src"}, std::move(watched));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);

    EXPECT_EQ(SaveReport(t), "Could not save to old: File too large\n") << hard_link;
    EXPECT_EQ(ReadFile("old"), "old content\n") << hard_link;
    EXPECT_EQ(wrote, !hard_link);
    std::vector<std::string> entries = {"old", "src"};
    if (hard_link) entries = {"old", "other", "src"};
    EXPECT_EQ(Entries("."), entries) << hard_link;
  }
}

TEST(SaveFailure, FifoWithoutAReaderFailsInsteadOfBlocking) {
  TempDir dir;
  ASSERT_EQ(mkfifo("pipe", 0644), 0);
  Transcript t = SaveDocAs("pipe");
  EXPECT_EQ(SaveReport(t), "Could not save to pipe: No such device or address\n");
  struct stat st;
  ASSERT_EQ(lstat("pipe", &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// A failure at any step of a save leaves the old content whole, in the target or (only when
// even putting it back failed) in a backup that the message names; no temporary file stays.
TEST(SaveFailure, InjectedAtEachStepLeavesTheOldContentWhole) {
  auto plain = [] { WriteFile("f", "old\n"); };
  auto linked = [] {
    WriteFile("a", "old\n");
    ASSERT_EQ(link("a", "b"), 0);
  };
  const std::vector<std::string> f = {"f"};
  const std::vector<std::string> ab = {"a", "b"};
  const std::vector<std::string> ab_state = {"a", "b", "state"};
  auto row = [](const char* name, std::function<void()> setup, const char* target,
                const std::string& report, std::vector<std::string> entries,
                std::vector<Fault> faults) {
    std::string old_file = target[0] == 'a' ? "b" : target;
    return FailureCase{name,     setup,   target,
                       report,   ".",     std::move(entries),
                       old_file, "old\n", Failing(std::move(faults))};
  };
  const std::string full = ": No space left on device\n";
  const std::string io = ": Input/output error\n";
  std::vector<FailureCase> cases = {
      // A temporary file that cannot be made for these reasons fails the save at once.
      row("no inodes", plain, "f", "Could not save to f" + full, f,
          {{FsStep::kCreateTemp, ENOSPC}}),
      row("quota", plain, "f", "Could not save to f: Disk quota exceeded\n", f,
          {{FsStep::kCreateTemp, EDQUOT}}),
      row("too many files", plain, "f", "Could not save to f: Too many open files\n", f,
          {{FsStep::kCreateTemp, EMFILE}}),
      row("name too long", plain, "f", "Could not save to f: File name too long\n", f,
          {{FsStep::kCreateTemp, ENAMETOOLONG}}),
      row("mode", plain, "f", "Could not save to f: Operation not permitted\n", f,
          {{FsStep::kMatchMode, EPERM}}),
      row("temporary write", plain, "f", "Could not save to f" + full, f,
          {{FsStep::kWrite, ENOSPC}}),
      row("temporary flush", plain, "f", "Could not save to f" + io, f, {{FsStep::kSync, EIO}}),
      row("temporary name", plain, "f", "Could not save to f" + full, f,
          {{FsStep::kNameTemp, ENOSPC}}),
      row("exchange", plain, "f", "Could not save to f" + io, f, {{FsStep::kExchange, EIO}}),
      row("rename", plain, "f", "Could not save to f" + io, f, {{FsStep::kRename, EIO}}),
      // In place: no backup, no write.
      row("open in place", linked, "a", "Could not save to a: Permission denied\n", ab,
          {{FsStep::kOpenTarget, EACCES}}),
      row("backup nowhere", linked, "a", "Could not save to a" + full, ab_state,
          {{FsStep::kCreateBackup, ENOSPC}}),
      row("no state folder", linked, "a", "Could not save to a: Permission denied\n", ab,
          {{FsStep::kCreateBackup, ENOSPC}, {FsStep::kMakeStateFolder, EACCES}}),
      row("backup copy", linked, "a", "Could not save to a" + io, ab_state,
          {{FsStep::kCopyBackup, EIO}}),
      row("backup flush", linked, "a", "Could not save to a" + io, ab_state,
          {{FsStep::kSyncBackup, EIO}}),
      row("backup name", linked, "a", "Could not save to a" + full, ab_state,
          {{FsStep::kNameBackup, ENOSPC}}),
      // In the state folder, the companion first; nothing of either stays there.
      {"backup record", linked, "a", "Could not save to a" + io, "state/morvax/backup", {}, "b",
       "old\n", Failing({{FsStep::kCreateBackup, ENOSPC, "a"}, {FsStep::kRecordPath, EIO}})},
      {"state backup after its record", linked, "a", "Could not save to a" + full,
       "state/morvax/backup", {}, "b", "old\n", Failing({{FsStep::kCreateBackup, ENOSPC}})},
      // In place, after the backup: the old content is put back and the backup removed.
      row("reserve", linked, "a", "Could not save to a" + full, ab, {{FsStep::kAllocate, ENOSPC}}),
      row("write in place", linked, "a", "Could not save to a" + full, ab,
          {{FsStep::kWrite, ENOSPC}}),
      row("attributes unread", linked, "a", "Could not save to a" + io, ab,
          {{FsStep::kReadAttributes, EIO}}),
      row("cut in place", linked, "a", "Could not save to a" + io, ab, {{FsStep::kTruncate, EIO}}),
      row("flush in place", linked, "a", "Could not save to a" + io, ab, {{FsStep::kSync, EIO}}),
      // Nor could it be put back: the backup stays, named.
      row("restore", linked, "a",
          "Could not save to a: No space left on device; its old content is in "
          "a.morvax-backup-XXXXXX\n",
          {"a", "a.morvax-backup-XXXXXX", "b"},
          {{FsStep::kWrite, ENOSPC}, {FsStep::kRestore, EIO}}),
      // Put back, but the backup could not be removed: it stays, named.
      row("backup stays", linked, "a",
          "Could not save to a: No space left on device; its old content is in "
          "a.morvax-backup-XXXXXX\n",
          {"a", "a.morvax-backup-XXXXXX", "b"},
          {{FsStep::kWrite, ENOSPC}, {FsStep::kRemoveBackup, EIO}}),
      row("backup folder flush", linked, "a", "Could not save to a" + io, ab_state,
          {{FsStep::kSyncFolder, EIO}}),
  };
  // Every step of a write in place is failed by a row, but those whose failure cannot harm it.
  std::vector<FsStep> failed;
  for (FailureCase& c : cases) {
    c.options.fs.before = [&failed, fail = c.options.fs.before](FsStep step, const char* path) {
      int err = fail(step, path);
      if (err != 0) failed.push_back(step);
      return err;
    };
  }
  RunFailureCases(cases);
  for (FsStep step : PlanSteps(linked, "a", true)) {
    // A close once flushed is tolerated; set-id bits are given back only by a user not root.
    bool harmless = step == FsStep::kClose || step == FsStep::kMatchMode;
    EXPECT_TRUE(harmless || std::count(failed.begin(), failed.end(), step) > 0)
        << static_cast<int>(step);
  }
}

// What the save found is not what is there when it writes: replaced, made, turned into a link.
// The save fails and writes nowhere; another program's file is left as that program left it.
TEST(SaveFailure, TargetThatChangesDuringTheSaveIsNotWritten) {
  // Runs `change` once, just before `step`; fails the steps of `faults`.
  auto at = [](FsStep when, std::function<void()> change, std::vector<Fault> faults = {}) {
    Options options = Failing(std::move(faults));
    options.fs.before = [when, change, fail = options.fs.before](FsStep step, const char* path) {
      if (step == when) change();
      return fail(step, path);
    };
    return options;
  };
  auto replace = [](const char* name, const char* text) {
    return [=] {
      unlink(name);
      WriteFile(name, text);
    };
  };
  const std::string changed = ": the file changed while it was being saved\n";
  // Moved aside, and a link to it put in its place: the same file, seen through the link.
  auto linked_aside = [] {
    ASSERT_EQ(rename("f", "real"), 0);
    ASSERT_EQ(symlink("real", "f"), 0);
  };
  auto old_f = [] { WriteFile("f", "old\n"); };
  // Replaced by a new file made while the old one still stands, so that it gets another inode.
  auto swap_in = [] {
    WriteFile("new", "theirs\n");
    ASSERT_EQ(rename("new", "f"), 0);
  };
  TempDir here;
  if (Exchanges()) {
    // Replaced after the last check: what the exchange takes out goes back.
    RunFailureCases({
        {"replaced right before the exchange", old_f, "f", "Could not save to f" + changed, ".",
         {"f"}, "f", "theirs\n", at(FsStep::kExchange, swap_in)},
        {"and it cannot go back", old_f, "f",
         "Could not save to f: Input/output error; its old content is in "
         ".f.morvax-save-XXXXXX\n",
         ".", {".f.morvax-save-XXXXXX", "f"}, "f", "doc\n",
         at(FsStep::kExchange, swap_in, {{FsStep::kExchangeBack, EIO}})},
    });
  }
  RunFailureCases({
      {"a link to it before the rename", old_f, "f", "Could not save to f" + changed, ".",
       {"f", "real"}, "real", "old\n", at(FsStep::kRename, linked_aside)},
      {"a link to it, where no exchange is", old_f, "f", "Could not save to f" + changed, ".",
       {"f", "real"}, "real", "old\n",
       at(FsStep::kRename, linked_aside, {{FsStep::kExchange, EINVAL}})},
      {"replaced by a link before the rename",
       [] {
         WriteFile("f", "old\n");
         WriteFile("victim", "theirs\n");
       },
       "f", "Could not save to f" + changed, ".", {"f", "victim"}, "victim", "theirs\n",
       at(FsStep::kRename,
          [] {
            unlink("f");
            ASSERT_EQ(symlink("victim", "f"), 0);
          })},
      {"a new name taken before the rename", [] {}, "new", "Could not save to new" + changed, ".",
       {"new"}, "new", "theirs\n", at(FsStep::kRename, replace("new", "theirs\n"))},
      {"replaced before an in-place write",
       [] {
         WriteFile("a", "old\n");
         ASSERT_EQ(link("a", "b"), 0);
       },
       "a", "Could not save to a" + changed, ".", {"a", "b"}, "a", "theirs\n",
       at(FsStep::kOpenTarget, replace("a", "theirs\n"))},
      {"a FIFO replaced by a file", [] { ASSERT_EQ(mkfifo("pipe", 0644), 0); }, "pipe",
       "Could not save to pipe" + changed, ".", {"pipe"}, "pipe", "theirs\n",
       at(FsStep::kOpenTarget, replace("pipe", "theirs\n"))},
  });
}

// Where the target's folder cannot take the backup, the state folder does; without one (no
// home) the save fails with the folder's reason.
TEST(SaveFailure, BackupThatTheFolderRefusesGoesToTheStateFolder) {
  TempDir dir;
  WriteFile("a", "old\n");
  ASSERT_EQ(link("a", "b"), 0);
  Options refused = Failing({{FsStep::kCreateBackup, EACCES, "a"},
                             {FsStep::kWrite, ENOSPC, "a"},
                             {FsStep::kRestore, EIO}});
  Transcript t = SaveDocAs("a", refused);
  std::string kept = "/state/morvax/backup/a.morvax-backup-XXXXXX";
  EXPECT_EQ(Unrandom(SaveReport(t)),
            "Could not save to a: No space left on device; its old "
            "content is in $TMP" +
                kept + "\n");
  // With its companion, which says whose it is.
  std::vector<std::string> backups = Entries("state/morvax/backup");
  ASSERT_EQ(backups,
            (std::vector<std::string>{"a.morvax-backup-XXXXXX", "a.morvax-backup-XXXXXX.path"}));
  for (const auto& entry : std::filesystem::directory_iterator("state/morvax/backup")) {
    bool companion = entry.path().extension() == kCompanionSuffix;
    EXPECT_EQ(ReadFile(entry.path()), companion ? dir.path() + "/a\n" : "old\n");
    EXPECT_EQ(Mode(entry.path()), 0600u);
  }
  EXPECT_EQ(Mode("state/morvax"), 0700u);
  EXPECT_EQ(Mode("state"), 0700u);
  // The next load of the file finds the backup through its companion.
  EXPECT_NE(Unrandom(RunWithSettings("", "", {"a"}).out).find("An earlier save of a left $TMP" +
                                                                kept + "\n"),
            std::string::npos);

  // A relative XDG_STATE_HOME counts as unset; without a home there is no state folder.
  const char* home = std::getenv("HOME");
  std::string saved_home = home != nullptr ? home : "";
  setenv("XDG_STATE_HOME", "relative", 1);
  setenv("HOME", (dir.path() + "/home").c_str(), 1);
  t = SaveDocAs("a", Failing({{FsStep::kCreateBackup, EACCES, "a"}}));
  EXPECT_EQ(SaveReport(t), "Saved to a\n");
  EXPECT_EQ(Entries("home/.local/state/morvax/backup"), (std::vector<std::string>{}));
  unsetenv("HOME");
  WriteFile("a", "old\n");
  t = SaveDocAs("a", Failing({{FsStep::kCreateBackup, EACCES, "a"}}));
  EXPECT_EQ(SaveReport(t), "Could not save to a: Permission denied\n");
  EXPECT_EQ(ReadFile("b"), "old\n");
  if (home != nullptr) setenv("HOME", saved_home.c_str(), 1);
  EXPECT_FALSE(FileExists("relative"));
}

// ---------------------------------------------------------------------------------------------
// Saves that succeed keep what the target was: its mode, owner, links.
// ---------------------------------------------------------------------------------------------

TEST(SaveTarget, ModeIsKeptAndNewFilesFollowTheUmask) {
  TempDir dir;
  WriteFile("script", "old\n");
  chmod("script", 0751);
  SaveDocAs("script");
  EXPECT_EQ(ReadFile("script"), "doc\n");
  EXPECT_EQ(Mode("script"), 0751u);

  mode_t old_mask = umask(027);
  SaveDocAs("fresh");
  umask(old_mask);
  EXPECT_EQ(Mode("fresh"), 0640u);
  EXPECT_EQ(Entries("."), (std::vector<std::string>{"fresh", "script"}));

  // A write by a user who is not root clears the set-id bits; the owner's save keeps them,
  // replaced or in place.
  for (const char* second_name : {"", "second"}) {
    chmod("script", 06751);
    mode_t set_id = Mode("script");
    if (second_name[0] != '\0') {
      ASSERT_EQ(link("script", second_name), 0);
    }
    SaveDocAs("script");
    EXPECT_EQ(Mode("script"), set_id) << second_name;
  }

  // A folder's default ACL, not the umask, gives a new file its mode, as for any new file.
  const std::string acl = Acl({{kOwner, 6, kNoId}, {kGroup, 6, kNoId}, {kMask, 6, kNoId},
                               {kOther, 0, kNoId}});
  ASSERT_EQ(mkdir("acl", 0755), 0);
  if (setxattr("acl", "system.posix_acl_default", acl.data(), acl.size(), 0) == 0) {
    SaveDocAs("acl/fresh");
    EXPECT_EQ(Mode("acl/fresh"), 0660u);
  }
}

TEST(SaveTarget, SymbolicLinksAreFollowedAndKept) {
  TempDir dir;
  ASSERT_EQ(mkdir("sub", 0755), 0);
  WriteFile("sub/real", "old\n");
  ASSERT_EQ(symlink("real", "sub/rel"), 0);   // relative to its own folder
  ASSERT_EQ(symlink("sub/rel", "chain"), 0);  // a link to a link
  ASSERT_EQ(symlink("sub/new", "dangling"), 0);
  // Absolute: to the file, and to its folder from a link in another one.
  ASSERT_EQ(symlink((dir.path() + "/sub/real").c_str(), "absolute"), 0);
  ASSERT_EQ(mkdir("other", 0755), 0);
  ASSERT_EQ(symlink((dir.path() + "/sub").c_str(), "other/to-sub"), 0);

  for (const char* name : {"absolute", "other/to-sub/real"}) {
    WriteFile("sub/real", "old\n");
    Transcript t = SaveDocAs(name);
    EXPECT_EQ(SaveReport(t), "Saved to " + std::string(name) + "\n");
    EXPECT_EQ(ReadFile("sub/real"), "doc\n") << name;
  }
  EXPECT_TRUE(std::filesystem::is_symlink("absolute"));
  EXPECT_TRUE(std::filesystem::is_symlink("other/to-sub"));

  WriteFile("sub/real", "old\n");
  Transcript t = SaveDocAs("chain");
  EXPECT_EQ(SaveReport(t), "Saved to chain\n");
  EXPECT_EQ(ReadFile("sub/real"), "doc\n");
  EXPECT_TRUE(std::filesystem::is_symlink("chain"));
  EXPECT_TRUE(std::filesystem::is_symlink("sub/rel"));

  SaveDocAs("dangling");
  EXPECT_TRUE(std::filesystem::is_symlink("dangling"));
  EXPECT_EQ(ReadFile("sub/new"), "doc\n");
  EXPECT_EQ(Entries("sub"), (std::vector<std::string>{"new", "real", "rel"}));
}

// A file of one name is replaced by a new one (the rename leaves no temporary file behind); a
// file of two names is written in place, so that both see the new content.
TEST(SaveTarget, SingleLinkIsReplacedAndHardLinkedFileWrittenInPlace) {
  for (bool hard_link : {false, true}) {
    TempDir dir;
    WriteFile("a", "old content that is longer\n");
    if (hard_link) {
      ASSERT_EQ(link("a", "b"), 0);
    }
    struct stat before;
    ASSERT_EQ(stat("a", &before), 0);
    SaveDocAs("a");
    struct stat after;
    ASSERT_EQ(stat("a", &after), 0);
    EXPECT_EQ(after.st_ino == before.st_ino, hard_link) << hard_link;
    EXPECT_EQ(ReadFile("a"), "doc\n") << hard_link;
    if (hard_link) {
      EXPECT_EQ(ReadFile("b"), "doc\n") << "both names see the new content";
    }
    EXPECT_EQ(Entries("."), (hard_link ? Lines{"a", "b"} : Lines{"a"})) << hard_link;
  }
  // In place, a close that fails once the new content is flushed takes nothing from the save.
  TempDir dir;
  WriteFile("a", "old\n");
  ASSERT_EQ(link("a", "b"), 0);
  Transcript t = SaveDocAs("a", Failing({{FsStep::kClose, EIO}}));
  EXPECT_EQ(SaveReport(t), "Saved to a\n");
  EXPECT_EQ(t.status, 0);
  EXPECT_EQ(ReadFile("b"), "doc\n");
  EXPECT_EQ(Entries("."), (Lines{"a", "b"}));
}

// The durable save, each step of its plan failed in turn through the file-system seam:
// a failure up to the exchange keeps the old file and is reported (a quota is no reason to write
// in place); an owner that cannot be kept falls back to a write in place; an old file that
// cannot be removed after the exchange is said; the folder's flush comes after the new content
// is in place and does not undo the save.
TEST(SaveTarget, DurableSaveAFailureAtEachStepOfItsPlan) {
  using S = FsStep;
  TempDir here;
  bool exchanges = Exchanges();
  const std::string failed = std::string("Could not save to f: ") + std::strerror(EDQUOT) + "\n";
  const std::string old = ".f.morvax-save-XXXXXX";
  struct StepCase {
    std::optional<S> fail;  // fails with EDQUOT whenever it comes
    bool saves;
    Lines entries = {"f"};
    std::string report = "";  // when it saves, what follows "Saved to f"
  };
  const StepCase cases[] = {
      {std::nullopt, true},
      {S::kReadAttributes, false},
      {S::kCreateTemp, false},
      {S::kMatchFlags, true},
      {S::kMatchOwner, true},
      {S::kMatchAttributes, false},
      {S::kMatchMode, false},
      {S::kWrite, false},
      {S::kSync, false},
      {S::kNameTemp, false},
      {S::kClose, true},
      {S::kRename, false},
      {S::kExchange, false},
      {S::kRenameOver, false},
      {S::kExchangeBack, true},  // only reached when what came out is not the target
      {S::kRemoveOld, true, exchanges ? Lines{old, "f"} : Lines{"f"},
       exchanges ? "Could not remove the backup " + old + ": " + std::strerror(EDQUOT) + "\n" : ""},
      {S::kSyncFolder, true}};
  // Each step of the plan the save chose in turn: a step with no outcome here fails the test.
  std::vector<S> table = PlanSteps([] { WriteFile("f", "old\n"); }, "f", false);
  std::vector<std::optional<S>> failing(table.begin(), table.end());
  failing.insert(failing.begin(), std::nullopt);
  for (std::optional<S> fail : failing) {
    SCOPED_TRACE(fail ? static_cast<int>(*fail) : -1);
    auto row = std::find_if(std::begin(cases), std::end(cases),
                            [&](const StepCase& c) { return c.fail == fail; });
    ASSERT_NE(row, std::end(cases)) << "a step of the save with no outcome here";
    const StepCase& c = *row;
    TempDir dir;
    WriteFile("f", "old\n");
    Options options;
    options.fs.before = [&](S step, const char*) { return step == c.fail ? EDQUOT : 0; };
    std::string temp;  // the temporary file's name, as the seam sees it
    options.fs.before = [&, before = options.fs.before](S step, const char* path) {
      if (step == S::kCreateTemp) temp = Unrandom(path);
      return before(step, path);
    };
    Transcript t = SaveDocAs("f", options);
    if (!c.fail) {
      EXPECT_EQ(temp, ".f.morvax-save-XXXXXX");
    }
    std::string out = Unrandom(t.out);
    std::size_t at = out.find(SaveReport(t)) + SaveReport(t).size();
    EXPECT_EQ(SaveReport(t) + out.substr(at, c.report.size()),
              c.saves ? "Saved to f\n" + c.report : failed);
    EXPECT_EQ(ReadFile("f"), c.saves ? "doc\n" : "old\n");
    EXPECT_EQ(Entries("."), c.entries);
    // What the exchange took out holds the old content.
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
      if (entry.path().filename().string().starts_with(".f.")) {
        EXPECT_EQ(ReadFile(entry.path()), "old\n");
      }
    }
  }
}

// A session that loads a file, tries to open a folder and a missing file, and saves leaves no
// descriptor open once it ends.
TEST(SaveTarget, NoDescriptorOutlivesASession) {
  auto descriptors = [] {
    Lines fds;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
      fds.push_back(entry.path().filename().string());
    }
    std::sort(fds.begin(), fds.end());
    return fds;
  };
  TempDir dir;
  WriteFile("f", "text\n");
  ASSERT_EQ(mkdir("d", 0755), 0);
  Lines before = descriptors();
  Transcript t = RunWithSettings("", "O\nd\nO\nmissing\n!x\nS\n", {"f"});
  t.ed.reset();  // the file last saved is held until the editor ends
  EXPECT_EQ(descriptors(), before);
  EXPECT_EQ(ReadFile("missing"), "xext\n") << t.out;
}

// The names made beside a target and in the state folder are cut to fit, so that the longest
// name saves either way.
TEST(SaveTarget, LongestNameSavesByRenameAndInPlace) {
  const std::string name(255, 'n');
  for (bool hard_link : {false, true}) {
    TempDir dir;
    WriteFile(name, "old\n");
    if (hard_link) {
      ASSERT_EQ(link(name.c_str(), "other"), 0);
    }
    // The backup goes to the state folder, with its companion.
    Transcript t = SaveDocAs(name, Failing({{FsStep::kCreateBackup, EACCES, "n"}}));
    EXPECT_EQ(SaveReport(t), "Saved to " + name + "\n") << hard_link;
    EXPECT_EQ(ReadFile(name), "doc\n") << hard_link;
  }
}

// A save by rename gives the new file the target's owner and group, also where only the group
// differs from what a new file gets: root's own file of another group, and a user's own file
// of a supplementary group in a folder of yet another group (not setgid), the user's own group
// being a third.
TEST(SaveTarget, RenamedFileKeepsItsOwnerAndGroup) {
  if (!IsRoot()) GTEST_SKIP() << "only root can give a test file another owner";
  constexpr uid_t kUser = 65534;
  struct Case {
    const char* name;
    uid_t owner;
    gid_t group;
    uid_t user = 0;  // who saves
    gid_t user_group = 0;
    std::vector<gid_t> groups = {};
  };
  const Case cases[] = {
      {"another owner and group", 4321, 4321},
      {"root's own file of another group", 0, 4321},
      {"a user's own file of a supplementary group", kUser, 4321, kUser, 4323, {4321}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    ASSERT_EQ(chown(".", 0, 4322) | chmod(".", 0777), 0);
    WriteFile("f", "old\n");
    ASSERT_EQ(chown("f", c.owner, c.group), 0);
    struct stat before;
    ASSERT_EQ(stat("f", &before), 0);
    std::string report = c.user == 0 ? SaveReport(SaveDocAs("f"))
                                     : SaveAsUser(c.user, "f", c.user_group, c.groups);
    EXPECT_EQ(report, "Saved to f\n") << c.name;
    struct stat st;
    ASSERT_EQ(stat("f", &st), 0);
    EXPECT_NE(st.st_ino, before.st_ino) << c.name << ": not saved by rename";
    EXPECT_EQ(st.st_uid, c.owner) << c.name;
    EXPECT_EQ(st.st_gid, c.group) << c.name;
    EXPECT_EQ(ReadFile("f"), "doc\n") << c.name;
  }
}

// A save changes the content and nothing else: the target's extended attributes and ACLs stay
// (an ACL that denies a user most of all), and the new file loses what its folder gave it. An
// attribute that a new file cannot be given moves the save in place.
TEST(SaveTarget, ExtendedAttributesAndAclsAreKept) {
  using Map = std::map<std::string, std::string>;
  const std::string denied = Acl({{kOwner, 6, kNoId}, {kUser, 0, 4321}, {kGroup, 4, kNoId},
                                  {kMask, 4, kNoId}, {kOther, 4, kNoId}});
  auto set = [](const char* path, const char* name, const std::string& value) {
    return [=] { ASSERT_EQ(setxattr(path, name, value.data(), value.size(), 0), 0) << name; };
  };
  struct Case {
    const char* name;
    std::vector<std::function<void()>> setup;  // after f is written
    Map after;                                 // f's attributes after the save
    std::vector<Fault> faults = {};
    bool in_place = false;
    bool as_root = false;
    uid_t user = 0;  // saves as this user, f and the folder being theirs
  };
  // A capability, as the kernel keeps it: version 2, the first permitted one.
  const std::string capability("\0\0\0\2\1\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 20);
  const Case cases[] = {
      {"user attributes", {set("f", "user.a", "1"), set("f", "user.empty", "")},
       {{"user.a", "1"}, {"user.empty", ""}}},
      {"cannot be set: in place", {set("f", "user.a", "1")}, {{"user.a", "1"}},
       {{FsStep::kMatchAttributes, EOPNOTSUPP}}, true},
      {"not permitted: in place", {set("f", "user.a", "1")}, {{"user.a", "1"}},
       {{FsStep::kMatchAttributes, EPERM}}, true},
      {"an ACL that denies a user", {set("f", "system.posix_acl_access", denied)},
       {{"system.posix_acl_access", denied}}, {}, false, true},
      {"the folder's default ACL", {set(".", "system.posix_acl_default", denied)}, {}, {},
       false, true},
      {"trusted, as root", {set("f", "trusted.t", "x")}, {{"trusted.t", "x"}}, {}, false, true},
      // Never carried over: a user may not set it, which would move the save in place.
      {"a capability, on the user's own file",
       {[] { ASSERT_EQ(chown("f", 65534, 65534) | chmod(".", 0777), 0); },
        set("f", "security.capability", capability)},
       {}, {}, false, true, 65534},
  };
  for (const Case& c : cases) {
    if (c.as_root && !IsRoot()) continue;
    TempDir dir;
    WriteFile("f", "old\n");
    chmod("f", 0644);
    if (setxattr("f", "user.probe", "", 0, 0) != 0) GTEST_SKIP() << "no user attributes here";
    removexattr("f", "user.probe");
    for (const auto& step : c.setup) step();
    struct stat before;
    ASSERT_EQ(stat("f", &before), 0);
    std::string report =
        c.user == 0 ? SaveReport(SaveDocAs("f", Failing(c.faults))) : SaveAsUser(c.user, "f");
    EXPECT_EQ(report, "Saved to f\n") << c.name;
    EXPECT_EQ(Attributes("f"), c.after) << c.name;
    EXPECT_EQ(Mode("f"), 0644u) << c.name;
    struct stat after;
    ASSERT_EQ(stat("f", &after), 0);
    EXPECT_EQ(after.st_ino == before.st_ino, c.in_place) << c.name;
    EXPECT_EQ(Entries("."), Lines{"f"}) << c.name;
  }
}

// A program that is running cannot be opened for writing: its attributes are read through a
// descriptor for reading, and it is replaced as any file is.
TEST(SaveTarget, RunningProgramIsReplaced) {
  TempDir dir;
  std::filesystem::copy_file("/bin/sleep", "prog");
  ASSERT_EQ(chmod("prog", 0755), 0);
  // The pipe's end closes when the program starts running.
  int started[2];
  ASSERT_EQ(pipe2(started, O_CLOEXEC), 0);
  pid_t child = fork();
  if (child == 0) {
    execl("prog", "prog", "10", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(started[1]);
  char byte;
  ASSERT_EQ(read(started[0], &byte, 1), 0);
  close(started[0]);
  Transcript t = SaveDocAs("prog");
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(SaveReport(t), "Saved to prog\n");
  EXPECT_TRUE(ReadFile("prog") == "doc\n") << "the program is still there";
}

TEST(SaveTarget, ReadOnlyFolderWritesAnExistingFileInPlace) {
  SKIP_AS_ROOT();
  TempDir dir;
  ASSERT_EQ(mkdir("ro", 0755), 0);
  WriteFile("ro/f", "old\n");
  chmod("ro", 0555);
  Transcript t = SaveDocAs("ro/f");
  EXPECT_EQ(SaveReport(t), "Saved to ro/f\n");
  EXPECT_EQ(ReadFile("ro/f"), "doc\n");
  // Its backup went to the state folder, and is gone.
  EXPECT_TRUE(Entries("state/morvax/backup").empty());
}

// Only a folder that refuses a new file, or an owner that a new file cannot be given, moves
// an ordinary file's save to in place; the folder sees nothing of it afterwards.
TEST(SaveTarget, InPlaceOnlyWhereARenameCannotServe) {
  struct Case {
    const char* name;
    std::vector<Fault> faults;
    bool in_place;
    std::vector<std::string> entries = {"f"};
    std::string report = "Saved to f\n";
  };
  for (const Case& c : std::vector<Case>{
           {"folder refuses", {{FsStep::kCreateTemp, EACCES}}, true},
           {"read-only filesystem", {{FsStep::kCreateTemp, EROFS}}, true},
           {"owner cannot be kept", {{FsStep::kMatchOwner, EPERM}}, true},
           {"flags cannot be kept", {{FsStep::kMatchFlags, EOPNOTSUPP}}, true},
           {"folder entry not flushed", {{FsStep::kSyncFolder, EIO}}, false},
           {"backup beside refused",
            {{FsStep::kCreateTemp, EACCES}, {FsStep::kCreateBackup, ENOSPC, "f"}},
            true,
            {"f", "state"}},
           {"backup not removed",
            {{FsStep::kCreateTemp, EACCES}, {FsStep::kRemoveBackup, EIO}},
            true,
            {"f", "f.morvax-backup-XXXXXX"},
            "Saved to f\nCould not remove the backup f.morvax-backup-XXXXXX: Input/output error\n"},
       }) {
    TempDir dir;
    WriteFile("f", "old content\n");
    struct stat before;
    ASSERT_EQ(stat("f", &before), 0);
    Transcript t = SaveDocAs("f", Failing(c.faults));
    std::string out = Unrandom(t.out);
    EXPECT_EQ(out.substr(out.find("\nSaved to ") + 1, c.report.size()), c.report) << c.name;
    EXPECT_EQ(t.status, 0) << c.name;
    EXPECT_EQ(ReadFile("f"), "doc\n") << c.name;
    struct stat after;
    ASSERT_EQ(stat("f", &after), 0);
    EXPECT_EQ(after.st_ino == before.st_ino, c.in_place) << c.name;
    EXPECT_EQ(Entries("."), c.entries) << c.name;
    if (FileExists("state")) {
      EXPECT_TRUE(Entries("state/morvax/backup").empty()) << c.name;
    }
  }
}

// A link that another user may have planted is not followed, wherever it stands in the chain:
// one in a shared sticky folder (like /tmp) that is neither the user's nor the folder owner's,
// and one of neither the user nor root that leads to what its owner does not own (for a new
// file or a link to a folder: the folder). Saves by another user than root run in a child.
TEST(SaveTarget, LinkThatMayHaveBeenPlantedIsNotFollowed) {
  if (!IsRoot()) GTEST_SKIP() << "only root can give a test link another owner";
  constexpr uid_t kUser = 65534;
  struct Case {
    const char* name;
    std::string target;
    uid_t folder_owner;
    bool followed;
    uid_t link_owner = 4321;
    uid_t files_owner = 0;  // of "private" and the file in it
    mode_t folder_mode = 01777;
    uid_t user = 0;
    std::string written = "private/f";
  };
  for (const Case& c : std::vector<Case>{
           {"planted", "shared/link", 0, false},
           {"the folder owner's, to a file of its own", "shared/link", 4321, true, 4321, 4321},
           {"the user's own", "shared/link", 4321, true, 0},
           {"planted, later in a chain", "chain", 0, false},
           {"planted folder link", "shared/dir/f", 0, false},
           {"another's folder, to root's file", "shared/link", 4321, false, 4321, 0, 0755},
           {"another's folder, to a file of its own", "shared/link", 4321, true, 4321, 4321, 0755},
           {"to a new file in root's folder", "shared/new", 4321, false, 4321, 0, 0755, 0,
            "private/new"},
           {"to a new file in its folder", "shared/new", 4321, true, 4321, 4321, 0755, 0,
            "private/new"},
           {"into root's folder", "shared/dir/f", 4321, false, 4321, 0, 0755},
           {"into its folder", "shared/dir/f", 4321, true, 4321, 4321, 0755},
           {"a user's own, to another's file", "shared/link", 0, true, kUser, 4321, 0755, kUser},
           {"root's, to a user's file", "shared/link", 0, true, 0, kUser, 0755, kUser},
       }) {
    TempDir dir;
    ASSERT_EQ(chmod(".", 0755) | mkdir("shared", 0) | chmod("shared", c.folder_mode) |
                  chown("shared", c.folder_owner, c.folder_owner) | mkdir("private", 0777) |
                  chmod("private", 0777) | symlink("../private/f", "shared/link") |
                  symlink("../private/new", "shared/new") | symlink("../private", "shared/dir") |
                  symlink("shared/link", "chain") | lchown("shared/link", c.link_owner, 0) |
                  lchown("shared/new", c.link_owner, 0) | lchown("shared/dir", c.link_owner, 0),
              0);
    WriteFile("private/f", "root only\n");
    ASSERT_EQ(chmod("private/f", 0666) | chown("private/f", c.files_owner, 0) |
                  chown("private", c.files_owner, 0),
              0);
    std::string report =
        c.user == 0 ? SaveReport(SaveDocAs(c.target)) : SaveAsUser(c.user, c.target);
    EXPECT_EQ(report, c.followed ? "Saved to " + c.target + "\n"
                                 : "Could not save to " + c.target + ": Permission denied\n")
        << c.name;
    EXPECT_EQ(FileExists(c.written) ? ReadFile(c.written) : "", c.followed ? "doc\n"
                                                                : c.written == "private/f"
                                                                    ? "root only\n"
                                                                    : "")
        << c.name;
    EXPECT_TRUE(std::filesystem::is_symlink("shared/link")) << c.name;
  }
}

// A save keeps the inode flags of the file it replaces; a file marked immutable or append-only is
// not written, and one in a folder marked append-only is written in place. A new name in a folder
// marked append-only is made whole under that name (nothing else is left there); in one marked
// immutable nothing is made.
TEST(SaveTarget, InodeFlagsAreKeptAndMarkedFilesAreNotWritten) {
  if (!IsRoot()) GTEST_SKIP() << "only root can mark a file immutable or append-only";
  struct Case {
    const char* marked;
    int flags;
    std::string report;
    bool saved;
    Lines entries = {"f"};
    std::string name = "f";
  };
  for (const Case& c : std::vector<Case>{
           {"f", FS_NODUMP_FL | FS_NOATIME_FL, "Saved to f\n", true},
           {"f", FS_IMMUTABLE_FL, "Could not save to f: it is marked immutable\n", false},
           {"f", FS_APPEND_FL, "Could not save to f: it is marked append-only\n", false},
           {".", FS_APPEND_FL, "Saved to f\n", true, {"f", "state"}},
           {".", FS_APPEND_FL, "Saved to g\n", true, {"f", "g"}, "g"},
           {".", FS_IMMUTABLE_FL, "Could not save to g: the folder is marked immutable\n", false,
            {"f"}, "g"},
       }) {
    TempDir dir;
    WriteFile("f", "old\n");
    struct stat before;
    int had = 0;
    ASSERT_EQ(stat("f", &before), 0);
    if (!InodeFlags(c.marked, had)) GTEST_SKIP() << "no inode flags here";
    int marked = had | c.flags;
    ASSERT_TRUE(InodeFlags(c.marked, marked, true)) << c.report;
    EXPECT_EQ(SaveReport(SaveDocAs(c.name)), c.report);
    int now = 0;
    EXPECT_TRUE(InodeFlags("f", now) && (now & c.flags) == (c.marked[0] == 'f' ? c.flags : 0))
        << c.report;
    EXPECT_TRUE(InodeFlags(c.marked, had, true));
    struct stat after;
    ASSERT_EQ(stat("f", &after), 0);
    EXPECT_EQ(after.st_ino == before.st_ino, c.flags != (FS_NODUMP_FL | FS_NOATIME_FL)) << c.report;
    EXPECT_EQ(ReadFile(c.name), c.saved ? "doc\n" : c.name == "f" ? "old\n" : "") << c.report;
    EXPECT_EQ(Entries("."), c.entries) << c.report;
  }
}

// Bytes that come in several pieces land in order, whether the file is replaced or written in
// place (where each piece goes to its own offset, over a longer old content).
TEST(SaveTarget, PiecesLandInOrderReplacedOrInPlace) {
  const std::string parts[] = {"first ", "", "second\n", std::string(5000, 'x') + "\n"};
  std::string whole;
  for (const std::string& part : parts) whole += part;
  Pieces pieces(whole.size(), [&](const Pieces::Sink& sink) {
    for (const std::string& part : parts) {
      if (Status put = sink(part); !put.ok()) return put;
    }
    return Status();
  });
  for (bool hard_link : {false, true}) {
    TempDir dir;
    WriteFile("a", std::string(9000, 'o'));
    if (hard_link) {
      ASSERT_EQ(link("a", "b"), 0);
    }
    ASSERT_TRUE(WriteFileSafely("a", pieces).saved()) << hard_link;
    EXPECT_EQ(ReadFile("a"), whole) << hard_link;
  }
}

TEST(SaveTarget, DevicesAndFifosAreWrittenInPlace) {
  TempDir dir;
  Transcript null = SaveDocAs("/dev/null");
  EXPECT_EQ(SaveReport(null), "Saved to /dev/null\n");
  struct stat st;
  ASSERT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));

  // A reader that is already there receives the bytes.
  ASSERT_EQ(mkfifo("pipe", 0644), 0);
  int reader = open("pipe", O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  Transcript t = SaveDocAs("pipe");
  EXPECT_EQ(SaveReport(t), "Saved to pipe\n");
  char got[16] = {};
  EXPECT_EQ(read(reader, got, sizeof got), 4);
  EXPECT_STREQ(got, "doc\n");
  close(reader);
}

// The one way paths are joined and taken apart: a folder with or without its last slash, the
// root, and the working folder ("").
TEST(Path, JoinsAFolderAndANameAndTakesAPathApart) {
  const char* const joined[][3] = {
      {"", "a", "a"},     {"/", "a", "/a"},        {"x", "a", "x/a"},
      {"x/", "a", "x/a"}, {"/x/y", "a", "/x/y/a"},
  };
  for (const auto& [folder, name, path] : joined) EXPECT_EQ(JoinPath(folder, name), path) << path;
  EXPECT_EQ(FolderOf("x/y/a"), "x/y/");
  EXPECT_EQ(LastPart("x/y/a"), "a");
  // The folder part keeps its slash, so that the parts join into the path again.
  for (const char* path : {"a", "/a", "x/a", "/x/y/a", "x/", "/"}) {
    EXPECT_EQ(JoinPath(FolderOf(path), LastPart(path)), path) << path;
  }
}

// ---------------------------------------------------------------------------------------------
// Loading from things that are no plain files.
// ---------------------------------------------------------------------------------------------

TEST(LoadSource, FifoIsReadToItsEnd) {
  TempDir dir;
  ASSERT_EQ(mkfifo("pipe", 0644), 0);
  // Both opens wait for each other, so the writer runs exactly while the editor reads.
  std::thread writer([] {
    int fd = open("pipe", O_WRONLY);
    if (fd < 0) return;
    std::string bytes = "p\nq\n" + std::string(100000, 'r') + "\n";
    for (std::size_t done = 0; done < bytes.size();) {
      ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    close(fd);
  });
  Transcript t = RunWithSettings("max_lines=1000\n", "", {"pipe"});
  writer.join();
  std::string out = t.AfterHint();
  // The session does not hold the FIFO open once it is read: a writer finds no reader.
  errno = 0;
  EXPECT_EQ(Fd(open("pipe", O_WRONLY | O_NONBLOCK)).valid() ? 0 : errno, ENXIO);
  EXPECT_EQ(out.rfind("Opened pipe\nRead 100005 bytes, WARNING!  Line 3 is being split\n", 0), 0u)
      << out.substr(0, 200);
  EXPECT_NE(out.find("\n395 Lines Generated\n"), std::string::npos);
  EXPECT_EQ(t.Line(0), "p");
  EXPECT_EQ(t.Line(394), std::string(100000 % 255, 'r'));
}

// A file that exists but cannot be read is reported with the reason, never as missing, and
// does not become the current file name.
TEST(LoadSource, UnreadableFileIsReportedWithItsReason) {
  SKIP_AS_ROOT();
  TempDir dir;
  WriteFile("secret", "hidden\n");
  chmod("secret", 0);
  Transcript t = RunWithSettings("", "", {"secret"});
  EXPECT_EQ(t.AfterHint().rfind("Could not read secret: Permission denied\n", 0), 0u);
  EXPECT_TRUE(t.Lines().empty());
  EXPECT_STREQ(t.ed->current_name, "");
}

TEST(LoadSource, DevicesOfNoSizeLoadEmpty) {
  TempDir dir;
  Transcript t = RunWithSettings("", "", {"/dev/zero"});
  EXPECT_EQ(t.AfterHint().rfind("Opened /dev/zero\nRead 0 bytes, 0 Lines Generated\n", 0), 0u);
}

// ---------------------------------------------------------------------------------------------
// Round trip: whatever the grid holds, saving and loading gives back every slot.
// ---------------------------------------------------------------------------------------------

// A random document: random lengths up to lsize - 1, any byte but newline and NUL, and runs of
// empty slots anywhere.
void FillRandomly(Document& doc, std::mt19937& rng) {
  std::uniform_int_distribution<int> byte(1, 255);
  std::uniform_int_distribution<int> length(1, doc.lsize() - 1);
  std::bernoulli_distribution empty(0.3);
  std::bernoulli_distribution stop(0.1);
  int last = std::uniform_int_distribution<int>(0, doc.lines() - 1)(rng);
  for (int i = 0; i <= last && !stop(rng); ++i) {
    if (empty(rng)) continue;
    std::string line(length(rng), ' ');
    for (char& c : line) {
      int b = byte(rng);
      c = static_cast<char>(b == '\n' ? 'N' : b);
    }
    ASSERT_EQ(doc.SetLine(i, line), 0);
  }
}

std::string Image(const Document& doc) {
  std::string image(ImageSize(doc), '\0');
  FormatLines(doc, image);
  return image;
}

// The document's pieces, put together, and the image must be the same bytes.
std::string Gathered(const Document& doc) {
  std::string bytes;
  Pieces pieces = DocumentPieces(doc);
  EXPECT_TRUE(pieces
                  .Each([&](std::span<const char> piece) {
                    bytes.append(piece.data(), piece.size());
                    return 0;
                  })
                  .ok());
  EXPECT_EQ(bytes.size(), pieces.size());
  return bytes;
}

// The first slot whose bytes differ between two grids of the same size, or -1.
int FirstDifference(const Document& a, const Document& b) {
  for (int i = 0; i < a.lines(); ++i) {
    if (a.text(i) != b.text(i).view()) return i;
  }
  return -1;
}

TEST(RoundTrip, SaveThenLoadGivesBackEverySlot) {
  for (unsigned seed = 1; seed <= 2000; ++seed) {
    std::mt19937 rng(seed);
    int lines = std::uniform_int_distribution<int>(1, 60)(rng);
    int lsize = std::uniform_int_distribution<int>(2, 24)(rng);
    Document doc;
    ASSERT_EQ(doc.Allocate(lines, lsize), 0);
    FillRandomly(doc, rng);
    std::string image = Image(doc);

    Document back;
    ASSERT_EQ(back.Allocate(lines, lsize), 0);
    LineCount count;
    std::string messages =
        Collect([&](Io& io) { count = MarkLines(TextOf(image), lines, lsize, io); });
    EXPECT_FALSE(count.partial) << "seed " << seed;
    EXPECT_EQ(messages.find("WARNING"), std::string::npos) << "seed " << seed;
    ASSERT_TRUE(ParseLines(TextOf(image), back));

    ASSERT_EQ(FirstDifference(doc, back), -1) << "seed " << seed;
    EXPECT_TRUE(back.CheckInvariant()) << "seed " << seed;
    EXPECT_EQ(Image(back), image) << "seed " << seed;
    EXPECT_EQ(Gathered(back), image) << "seed " << seed;

    // Loaded lines rewritten where the load put them (shorter) and moved out (longer), and
    // lines opened and removed among them, save as the same edits on the first grid do.
    for (int step = 0; step < 8; ++step) {
      int line = std::uniform_int_distribution<int>(0, lines - 1)(rng);
      int column = std::uniform_int_distribution<int>(0, lsize - 2)(rng);
      switch (step % 4) {
        case 0:
          for (Document* d : {&doc, &back}) d->Truncate(line, column);
          break;
        case 1:
          for (Document* d : {&doc, &back}) ASSERT_EQ(d->WriteAt(line, column, ""), 0);
          break;
        case 2:
          for (Document* d : {&doc, &back}) d->RemoveLine(line);
          break;
        case 3:
          for (Document* d : {&doc, &back}) ASSERT_EQ(d->OpenLine(line), 0);
          break;
      }
    }
    ASSERT_EQ(FirstDifference(doc, back), -1) << "seed " << seed;
    EXPECT_TRUE(back.CheckInvariant()) << "seed " << seed;
    std::string edited = Image(doc);
    EXPECT_EQ(Image(back), edited) << "seed " << seed;
    EXPECT_EQ(Gathered(back), edited) << "seed " << seed;
    Document again;
    ASSERT_EQ(again.Allocate(lines, lsize), 0);
    ASSERT_TRUE(ParseLines(TextOf(edited), again));
    ASSERT_EQ(FirstDifference(back, again), -1) << "seed " << seed;
  }
}

// A file larger than the pieces a save gathers, edited here and there, saved by rename and in
// place (a second hard link): the file holds exactly what the lines say, loaded runs, edited
// lines and the last line (given no newline in the file) alike.
TEST(RoundTrip, LargeFileSavesInPiecesByRenameAndInPlace) {
  std::string file;
  for (int i = 0; i < 20000; ++i) {
    file += "line " + std::to_string(i) + std::string(i % 37, 'x') + "\n";
  }
  file.pop_back();
  // Line 3 cut at column 3, line 5 cleared, text typed over the start of line 9000, a line
  // opened at 12000.
  std::string input = ",\n,\n,\n.\n.\n.\nG\n3\nt\nl\n.\n.\nd\ng\n9001\nnew text\ng\n12001\nw\nS\n";
  std::vector<std::string> lines;
  std::istringstream split(file);
  for (std::string line; std::getline(split, line);) lines.push_back(line);
  lines[3] = lines[3].substr(0, 2);
  lines[5] = "";
  lines[9000] = "new text" + lines[9000].substr(8);
  lines.insert(lines.begin() + 12000, "");
  std::string expected;
  for (const std::string& line : lines) expected += line + "\n";
  for (bool hard_link : {false, true}) {
    TempDir dir;
    WriteFile("f", file);
    if (hard_link) {
      ASSERT_EQ(link("f", "g"), 0);
    }
    Transcript t = RunWithSettings("max_lines=30000\n", input, {"f"});
    // Compared whole: a printed difference of 20,000 lines would take long to make.
    EXPECT_TRUE(ReadFile("f") == expected) << hard_link;
  }
}

// The same through real files and whole sessions: load, save again, byte-identical file.
TEST(RoundTrip, FilesSurviveLoadAndSaveUnchanged) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    TempDir dir;
    std::mt19937 rng(seed);
    int lines = std::uniform_int_distribution<int>(1, 40)(rng);
    int lsize = std::uniform_int_distribution<int>(2, 40)(rng);
    Document doc;
    ASSERT_EQ(doc.Allocate(lines, lsize), 0);
    FillRandomly(doc, rng);
    std::string image = Image(doc);
    ASSERT_TRUE(WriteFileSafely("f", image).saved());
    ASSERT_EQ(ReadFile("f"), image);

    std::string grid =
        "max_lines=" + std::to_string(lines) + "\nmax_char=" + std::to_string(lsize - 1) + "\n";
    Transcript t = RunWithSettings(grid, "S\n", {"f"});
    ASSERT_EQ(FirstDifference(doc, t.ed->doc), -1) << "seed " << seed;
    EXPECT_EQ(ReadFile("f"), image) << "seed " << seed;
    // Loaded whole, the file is one run of the load block, which a save writes as it lies.
    int next = 0;
    LineView run = t.ed->doc.LoadedRun(0, DocLength(t.ed->doc), next);
    EXPECT_EQ(run.size(), t.ed->doc.extent() > 0 ? image.size() : 0) << "seed " << seed;
  }
}

}  // namespace
