// Runs whole editor sessions in-process for tests: input script in, output and final state out,
// inside a fresh temporary folder that is the working directory for the test's duration.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/editor.h"

/// Creates a fresh folder (in /tmp, or in the folder `under`), makes it the working directory,
/// and removes it afterwards. Backups that saves keep outside the target's folder go to its
/// "state" sub-folder (XDG_STATE_HOME).
class TempDir {
 public:
  explicit TempDir(const char* under = "/tmp");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string previous_;
  std::string previous_state_;
  bool had_state_ = false;
};

/// Sets an environment variable (or removes it, for null) for a test's duration.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  bool had_;
  std::string old_;
};

void WriteFile(const std::string& name, const std::string& bytes);
std::string ReadFile(const std::string& name);
bool FileExists(const std::string& name);

/// The text of line `line`.
std::string SlotText(const Document& doc, int line);

/// The default keys, by CommandId, as the command table gives them.
std::string DefaultKeys();

/// The help's menu, printed before every answer.
extern const std::string kHelpMenu;
/// What a session printed after its hint, cut at each help menu: what came before the first,
/// then what each answer showed (the sections), then what followed the last.
std::vector<std::string> HelpSections(const std::string& after_hint);
/// The settings file a first start writes: every default.
std::string DefaultSettingsFile();

/// Settings for a view of one unnumbered line, and that view at line:pos with its prompt.
inline const std::string kPlainView = "show_numbers=off\nlines_per_page=1\n";
std::string PlainView(int line, int pos);

/// The help's first lines: the grid's limits.
std::string HelpLimits(int length, int lines);

/// A stream that collects what is written to it.
class Output {
 public:
  Output();
  ~Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  std::FILE* file() const { return file_; }
  /// Everything written so far.
  std::string Text();

 private:
  char* buffer_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* file_;
};

/// Runs fn with an Io whose output is collected; returns the output.
template <typename Fn>
std::string Collect(Fn fn) {
  Output out;
  Io io{nullptr, out.file()};
  fn(io);
  return out.Text();
}

/// A stream to read `text` from; the caller closes it.
std::FILE* InputFrom(const std::string& text);

struct Transcript {
  std::string out;             // everything printed
  int status = -1;             // exit status
  std::unique_ptr<Editor> ed;  // the state at the end

  /// Text of line i (0-based).
  std::string Line(int i) const;
  /// What was printed after the start-up hint.
  std::string AfterHint() const;
  /// The lines of the document up to its last non-empty line.
  std::vector<std::string> Lines() const;
};

/// Which of the session's streams the editor takes for terminals (Io::terminal and
/// Io::out_terminal); the streams themselves stay a file and a memory buffer.
struct Terminals {
  bool in = false;
  bool out = false;
  bool utf8 = true;     // the output terminal's character set
  bool edited = false;  // lines come through a line editor: those that begin with kPasted were
                        // pasted (kPasted itself is dropped)
};
inline constexpr Terminals kAtTerminal{true, true};
inline constexpr char kPasted[] = "\x1b[200~";

/// Runs the editor with `input` on standard input; `args` follow the program name. The output
/// goes to `out` when it is given, else to Transcript::out.
Transcript RunSession(const std::string& input, const std::vector<std::string>& args = {},
                      Options options = {}, std::FILE* out = nullptr, Terminals terminals = {});

/// Writes `settings` as ".morvax_rc" (so no default file is made), then runs the session.
Transcript RunWithSettings(const std::string& settings, const std::string& input,
                           const std::vector<std::string>& args = {}, Options options = {},
                           Terminals terminals = {});

/// The view printed for an unnumbered window, for building expected output.
std::string Header(int line, int pos, const std::string& name = "");
