#include "term/line_editor.h"

#ifndef MORVAX_LIBEDIT

// Built without libedit: there is no line editor, and Io reads the stream itself.
struct LineEditor::State {};

std::unique_ptr<LineEditor> LineEditor::Open(std::FILE*, std::FILE*) {
  return nullptr;
}

LineEditor::LineEditor(std::unique_ptr<State> state) : state_(std::move(state)) {}
LineEditor::~LineEditor() = default;

LineEditor::Status LineEditor::Read(const char*, bool, std::string&) {
  return Status::kEnd;
}

#else

#include <dirent.h>
#include <histedit.h>
#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <clocale>
#include <csignal>
#include <cstring>
#include <string_view>
#include <vector>

#include "core/io.h"
#include "core/utf8.h"
#include "term/caret.h"
#include "core/signals.h"

// libedit works on wide characters; typed bytes reach it through our own reader (GetChar)
// and leave it through ToBytes, so that no byte depends on the locale:
//  - in a UTF-8 locale a well-formed UTF-8 sequence is one character, shown as such;
//  - every other byte from 0x80 up (any such byte in other locales) becomes U+DC00 + the
//    byte, a code point no text holds, which libedit shows as an escape and ToBytes turns back
//    into that byte.
struct LineEditor::State {
  EditLine* el = nullptr;
  HistoryW* history = nullptr;
  std::FILE* out = nullptr;
  int fd = -1;
  bool utf8 = false;
  std::string prompt;  // shown before the line, redrawn by libedit

  // Characters decoded but not yet handed to libedit, and a byte read ahead of them.
  wchar_t pending[4] = {};
  int pending_count = 0;
  int pending_at = 0;
  int unread = -1;

  struct sigaction old_winch = {};
  bool winch_set = false;

  ~State() {
    if (el != nullptr) el_end(el);
    if (history != nullptr) history_wend(history);
    if (winch_set) sigaction(SIGWINCH, &old_winch, nullptr);
  }
};

namespace {

using State = LineEditor::State;

// The signal handler only records that the window changed size; the next read applies it.
volatile std::sig_atomic_t resized = 0;
void RecordResize(int) {
  resized = 1;
}

constexpr wchar_t kByteEscape = 0xdc00;

bool IsByteEscape(wchar_t c) {
  return c >= kByteEscape + 0x80 && c <= kByteEscape + 0xff;
}

State& StateOf(EditLine* el) {
  void* data = nullptr;
  el_get(el, EL_CLIENTDATA, &data);
  return *static_cast<State*>(data);
}

std::string ToBytes(const wchar_t* from, const wchar_t* to) {
  std::string bytes;
  for (const wchar_t* c = from; c < to; ++c) {
    if (IsByteEscape(*c)) {
      bytes += static_cast<char>(*c - kByteEscape);
    } else if (*c >= 0 && *c <= 0x10ffff) {
      AppendUtf8(bytes, static_cast<unsigned>(*c));
    }
  }
  return bytes;
}

std::wstring ToWide(const State& s, std::string_view bytes) {
  std::wstring wide;
  while (!bytes.empty()) {
    auto lead = static_cast<unsigned char>(bytes[0]);
    std::size_t n = lead < 0x80 ? 1 : s.utf8 ? Utf8Length(bytes) : 0;
    if (n == 0) {
      wide += static_cast<wchar_t>(kByteEscape + lead);
      n = 1;
    } else {
      wide += static_cast<wchar_t>(
          Utf8Decode(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(n)));
    }
    bytes.remove_prefix(n);
  }
  return wide;
}

// Waits until the terminal has input. False with errno EINTR once a signal that the editor
// acts on has been recorded, even one that came before the wait: those signals are let in only
// during ppoll. A resize goes on waiting.
bool WaitForInput(int fd) {
  sigset_t acted_on;
  sigset_t before;
  sigemptyset(&acted_on);
  for (int signal : {SIGINT, SIGHUP, SIGTERM}) sigaddset(&acted_on, signal);
  sigprocmask(SIG_BLOCK, &acted_on, &before);
  int ready;
  do {
    if (PendingSignal() != 0) {
      ready = -1;
      errno = EINTR;
      break;
    }
    pollfd input = {fd, POLLIN, 0};
    ready = ppoll(&input, 1, nullptr, &before);
  } while (ready < 0 && errno == EINTR);
  int err = errno;
  sigprocmask(SIG_SETMASK, &before, nullptr);
  errno = err;
  return ready > 0;
}

// One byte of input: 1, 0 at the end of input, -1 on an error. An interrupted read is not
// retried, so that the signal that interrupted it is handled by the caller.
int ReadByte(State& s, unsigned char& byte) {
  if (s.unread >= 0) {
    byte = static_cast<unsigned char>(s.unread);
    s.unread = -1;
    return 1;
  }
  if (!WaitForInput(s.fd)) return -1;
  ssize_t n = ::read(s.fd, &byte, 1);
  if (n == 1) return 1;
  return n == 0 ? 0 : -1;
}

// libedit's reader (EL_GETCFN): one character decoded as the comment on State says.
int GetChar(EditLine* el, wchar_t* c) {
  State& s = StateOf(el);
  if (s.pending_at < s.pending_count) {
    *c = s.pending[s.pending_at++];
    return 1;
  }
  s.pending_at = s.pending_count = 0;
  unsigned char seq[4];
  int got = ReadByte(s, seq[0]);
  if (got != 1) return got;
  int n = seq[0] < 0x80 ? 1 : s.utf8 ? Utf8SequenceLength(seq[0]) : 0;
  int have = 1;
  while (have < n) {
    got = ReadByte(s, seq[have]);
    if (got < 0) return -1;
    if (got == 0 || !Utf8Continues(seq[0], have, seq[have])) {
      // No character: each byte so far on its own, and the one that did not fit comes next.
      if (got == 1) s.unread = seq[have];
      for (int i = 1; i < have; ++i) s.pending[s.pending_count++] = kByteEscape + seq[i];
      n = 0;
      break;
    }
    ++have;
  }
  *c = n == 0 ? static_cast<wchar_t>(kByteEscape + seq[0]) : static_cast<wchar_t>(Utf8Decode(seq, n));
  return 1;
}

char* PromptText(EditLine* el) {
  return StateOf(el).prompt.data();
}

bool IsFolder(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The names in `folder` that begin with `start`, sorted; names beginning with "." only when
// `start` does.
std::vector<std::string> NamesStartingWith(const std::string& folder, const std::string& start) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.empty() ? "." : folder.c_str()),
                                          &closedir);
  if (dir == nullptr) return names;
  while (const dirent* entry = readdir(dir.get())) {
    std::string_view name = entry->d_name;
    if (name == "." || name == ".." || (name[0] == '.' && (start.empty() || start[0] != '.'))) {
      continue;
    }
    if (name.substr(0, start.size()) == start) names.emplace_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The longest start that all names share, not ending inside a UTF-8 character.
std::string CommonStart(const std::vector<std::string>& names, bool utf8) {
  std::string common = names[0];
  for (const std::string& name : names) {
    std::size_t n = 0;
    while (n < common.size() && n < name.size() && common[n] == name[n]) ++n;
    common.resize(n);
  }
  if (utf8 && names.size() > 1) {
    std::size_t lead = common.size();
    while (lead > 0 && common.size() - lead < 4 &&
           (static_cast<unsigned char>(common[lead - 1]) & 0xc0) == 0x80) {
      --lead;
    }
    if (lead > 0 && static_cast<unsigned char>(common[lead - 1]) >= 0xc0 &&
        Utf8Length(std::string_view(common).substr(lead - 1)) == 0) {
      common.resize(lead - 1);
    }
  }
  return common;
}

// Prints the names below the line being edited, in caret display, as many to a row as fit.
void ListNames(State& s, const std::string& folder, const std::vector<std::string>& names) {
  int columns = 80;
  el_get(s.el, EL_GETTC, "co", &columns);
  std::fputc('\n', s.out);
  int used = 0;
  for (const std::string& name : names) {
    std::string shown = CaretDisplay(name) + (IsFolder(folder + name) ? "/" : "");
    int width = static_cast<int>(shown.size());
    if (used > 0 && used + 2 + width > columns) {
      std::fputc('\n', s.out);
      used = 0;
    }
    if (used > 0) {
      std::fputs("  ", s.out);
      used += 2;
    }
    std::fputs(shown.c_str(), s.out);
    used += width;
  }
  std::fputc('\n', s.out);
}

// Tab at a file-name read: the answer up to the cursor is one literal path. A single match is
// completed exactly, with "/" after a folder; several complete to their common start and are
// listed; none rings the bell.
unsigned char CompleteName(EditLine* el, int) {
  State& s = StateOf(el);
  const LineInfoW* line = el_wline(el);
  std::string typed = ToBytes(line->buffer, line->cursor);
  std::size_t slash = typed.rfind('/');
  std::string folder = slash == std::string::npos ? "" : typed.substr(0, slash + 1);
  std::string start = typed.substr(folder.size());

  std::vector<std::string> names = NamesStartingWith(folder, start);
  if (names.empty()) return CC_REFRESH_BEEP;
  std::string common = CommonStart(names, s.utf8);
  std::string insert = common.substr(start.size());
  if (names.size() == 1 && IsFolder(folder + common)) insert += '/';
  if (!insert.empty() && el_winsertstr(el, ToWide(s, insert).c_str()) != 0) return CC_ERROR;
  if (names.size() == 1) return CC_REFRESH;
  ListNames(s, folder, names);
  return CC_REDISPLAY;
}

}  // namespace

LineEditor::LineEditor(std::unique_ptr<State> state) : state_(std::move(state)) {}
LineEditor::~LineEditor() = default;

std::unique_ptr<LineEditor> LineEditor::Open(std::FILE* in, std::FILE* out) {
  // The user's character set decides how typed text is shown; the bytes pass whatever it is.
  std::setlocale(LC_CTYPE, "");
  auto state = std::make_unique<State>();
  state->fd = fileno(in);
  state->out = out;
  state->utf8 = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
  state->el = el_init("morvax", in, out, stderr);
  state->history = history_winit();
  if (state->el == nullptr || state->history == nullptr) return nullptr;

  HistEventW event;
  history_w(state->history, &event, H_SETSIZE, INT_MAX);  // every line of the session
  history_w(state->history, &event, H_SETUNIQUE, 1);
  EditLine* el = state->el;
  el_set(el, EL_CLIENTDATA, state.get());
  el_set(el, EL_SIGNAL, 0);
  el_set(el, EL_EDITOR, "emacs");
  el_set(el, EL_PROMPT, &PromptText);
  el_set(el, EL_GETCFN, &GetChar);
  el_wset(el, EL_HIST, &history_w, state->history);
  el_wset(el, EL_ADDFN, L"morvax-complete", L"Complete a file name", &CompleteName);
  el_source(el, nullptr);  // ~/.editrc, or $EDITRC

  struct sigaction action = {};
  action.sa_handler = &RecordResize;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // a resize never interrupts a read
  state->winch_set = sigaction(SIGWINCH, &action, &state->old_winch) == 0;
  return std::unique_ptr<LineEditor>(new LineEditor(std::move(state)));
}

LineEditor::Status LineEditor::Read(const char* prompt, bool names, std::string& line) {
  State& s = *state_;
  s.prompt = prompt;
  s.pending_count = s.pending_at = 0;
  s.unread = -1;
  if (resized != 0) {
    resized = 0;
    el_resize(s.el);
  }
  el_wset(s.el, EL_BIND, L"^I", names ? L"morvax-complete" : L"ed-insert", nullptr);

  int count = 0;
  const wchar_t* text = el_wgets(s.el, &count);
  if (text == nullptr || count <= 0) return count < 0 ? Status::kFailed : Status::kEnd;
  line = ToBytes(text, text + count);

  std::wstring entry(text, static_cast<std::size_t>(count));
  if (!entry.empty() && entry.back() == L'\n') entry.pop_back();
  if (!entry.empty()) {
    HistEventW event;
    history_w(s.history, &event, H_ENTER, entry.c_str());
  }
  return Status::kLine;
}

#endif
