#include "session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

TempDir::TempDir(const char* under) {
  std::string pattern = std::string(under) + "/morvax-test-XXXXXX";
  char* made = mkdtemp(pattern.data());
  if (made == nullptr) std::abort();
  path_ = made;
  previous_ = std::filesystem::current_path().string();
  std::filesystem::current_path(path_);
  if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr) {
    had_state_ = true;
    previous_state_ = state;
  }
  setenv("XDG_STATE_HOME", (path_ + "/state").c_str(), 1);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
  if (had_state_) {
    setenv("XDG_STATE_HOME", previous_state_.c_str(), 1);
  } else {
    unsetenv("XDG_STATE_HOME");
  }
  // Restore write permission on anything a test locked, then remove it all.
  for (auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
    std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
  }
  std::filesystem::remove_all(path_, ignored);
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  const char* old = std::getenv(name);
  had_ = old != nullptr;
  if (had_) old_ = old;
  value != nullptr ? setenv(name, value, 1) : unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
  had_ ? setenv(name_, old_.c_str(), 1) : unsetenv(name_);
}

void WriteFile(const std::string& name, const std::string& bytes) {
  std::ofstream f(name, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool FileExists(const std::string& name) {
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::symlink_status(name, ignored));
}

std::string SlotText(const Document& doc, int line) {
  return std::string(doc.text(line).view());
}

std::string DefaultKeys() {
  std::string keys;
  for (const Command& command : kCommands) keys += command.default_key;
  return keys;
}

Output::Output() : file_(open_memstream(&buffer_, &size_)) {
  if (file_ == nullptr) std::abort();
}

Output::~Output() {
  std::fclose(file_);
  std::free(buffer_);
}

std::string Output::Text() {
  std::fflush(file_);
  return std::string(buffer_, size_);
}

std::FILE* InputFrom(const std::string& text) {
  std::FILE* in = std::tmpfile();
  if (in == nullptr) std::abort();
  std::fwrite(text.data(), 1, text.size(), in);
  std::rewind(in);
  return in;
}

std::string Transcript::Line(int i) const {
  return SlotText(ed->doc, i);
}

std::string Transcript::AfterHint() const {
  std::size_t at = out.find(" to quit\n");
  return at == std::string::npos ? out : out.substr(at + 9);
}

std::vector<std::string> Transcript::Lines() const {
  std::vector<std::string> lines;
  int last = DocLength(ed->doc);
  for (int i = 0; i <= last; ++i) lines.push_back(Line(i));
  if (lines.size() == 1 && lines[0].empty()) lines.clear();
  return lines;
}

namespace {

// A line editor that reads the session's input a line at a time (Terminals::edited).
class ScriptReader : public LineReader {
 public:
  explicit ScriptReader(std::FILE* in) : in_(in) {}
  Outcome Read(const char*, Asks, std::size_t, Typed& typed) override {
    std::string& line = typed.bytes;
    line.clear();
    for (int c; line.empty() || line.back() != '\n';) {
      if ((c = std::getc(in_)) == EOF) break;
      line += static_cast<char>(c);
    }
    if (line.empty()) return Outcome::kEnd;  // Ctrl-D
    if (line.rfind(kPasted, 0) != 0) return Outcome::kLine;
    line.erase(0, sizeof kPasted - 1);
    return Outcome::kPasted;
  }

 private:
  std::FILE* in_;
};

}  // namespace

Transcript RunSession(const std::string& input, const std::vector<std::string>& args,
                      Options options, std::FILE* out, Terminals terminals) {
  std::FILE* in = InputFrom(input);
  Output collected;

  std::vector<const char*> argv = {"morvax"};
  for (const std::string& a : args) argv.push_back(a.c_str());

  Transcript t;
  t.ed = std::make_unique<Editor>();
  t.ed->io = Io{in, out != nullptr ? out : collected.file()};
  t.ed->io.terminal = terminals.in;
  t.ed->io.out_terminal = terminals.out;
  t.ed->io.utf8 = terminals.utf8;
  ScriptReader reader(in);
  if (terminals.edited) t.ed->io.editor = &reader;
  t.ed->options = std::move(options);
  if (StartEditor(*t.ed, static_cast<int>(argv.size()), argv.data())) {
    while (RunTurn(*t.ed)) {
    }
  }
  t.status = t.ed->exit_status;
  std::fflush(t.ed->io.out);
  t.out = collected.Text();
  std::fclose(in);
  t.ed->io = Io{};
  return t;
}

Transcript RunWithSettings(const std::string& settings, const std::string& input,
                           const std::vector<std::string>& args, Options options,
                           Terminals terminals) {
  WriteFile(".morvax_rc", settings);
  return RunSession(input, args, std::move(options), nullptr, terminals);
}

std::string Header(int line, int pos, const std::string& name) {
  return "\nEditing " + std::to_string(line) + ":" + std::to_string(pos) + " " + name + "\n\n";
}

std::string PlainView(int line, int pos) {
  return Header(line, pos) + ">\n> ";
}

std::string HelpLimits(int length, int lines) {
  return "\nLimits:  Line length = " + std::to_string(length) +
         "     Total Lines = " + std::to_string(lines) + "\n\n";
}
