// The line editor: opening it, one read through libedit, the session's history, and the
// passage of text between the line's bytes and libedit's characters. The rest is beside it
// (line_editor_state.h says where).
#include "term/line_editor.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/utf8.h"
#include "term/caret.h"
#include "term/line_editor_state.h"

namespace line_editing {

State& StateOf(EditLine* el) {
  void* data = nullptr;
  el_get(el, EL_CLIENTDATA, &data);
  return *static_cast<State*>(data);
}

namespace {

bool IsByteEscape(wchar_t c) {
  return c >= kByteEscape + 0x80 && c <= kByteEscape + 0xff;
}

}  // namespace

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

void AppendWide(const State& s, std::string_view bytes, std::wstring& wide) {
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
}

namespace {

// kAct's function: puts `insert` into the line at the cursor, no key binding applied.
unsigned char Act(EditLine* el, int) {
  State& s = StateOf(el);
  if (!s.insert.empty()) {
    // Text that libedit cannot take is said as a line cut short, never dropped unsaid.
    if (el_winsertstr(el, s.insert.c_str()) != 0) s.cut = true;
    s.insert.clear();
  }
  if (s.redisplay) {
    s.redisplay = false;
    RedrawResized(s);
    return CC_NORM;
  }
  return CC_REFRESH;
}

char* PromptText(EditLine* el) {
  return StateOf(el).prompt.data();
}

}  // namespace

bool Done(int result, const char* step) {
#ifdef MORVAX_TEST_HOOKS
  const char* failing = std::getenv("MORVAX_FAILING_STEP");
  if (failing != nullptr && std::strcmp(failing, step) == 0) return false;
#endif
  static_cast<void>(step);
  return result == 0;
}

std::size_t LineLength(const State& s) {
  const LineInfoW* line = el_wline(s.el);
  return static_cast<std::size_t>(line->lastchar - line->buffer);
}

void Remember(State& s, const std::wstring& entry, std::size_t bytes) {
  HistEventW event;
  if (history_w(s.history, &event, H_FIRST) == 0 && entry == event.str) return;  // again
  std::size_t drop = 0;
  std::size_t total = s.history_bytes + bytes;
  std::size_t kept = s.entry_bytes.size();
  constexpr auto kEntries = static_cast<std::size_t>(LineEditor::kHistoryEntries);
  while (drop < kept && (kept - drop >= kEntries || total > LineEditor::kHistoryBytes)) {
    total -= s.entry_bytes[drop++];
  }
  // The history drops its oldest entries itself when an entry takes it over its size.
  history_w(s.history, &event, H_SETSIZE, static_cast<int>(kept - drop + 1));
  // H_ENTER's result says nothing sure (libedit gives 1 for an entry made): the entry is
  // confirmed by the newest one being it.
  history_w(s.history, &event, H_ENTER, entry.c_str());
  if (history_w(s.history, &event, H_FIRST) == 0 && entry == event.str) {
    s.entry_bytes.erase(s.entry_bytes.begin(), s.entry_bytes.begin() + static_cast<long>(drop));
    s.entry_bytes.push_back(bytes);
    s.history_bytes = total;
  }
  history_w(s.history, &event, H_SETSIZE, LineEditor::kHistoryEntries);
}
}  // namespace line_editing

using line_editing::State;

LineEditor::LineEditor(std::unique_ptr<State> state) : state_(std::move(state)) {}

LineEditor::~LineEditor() {
  line_editing::Release(*state_);
}

void LineEditor::BeforeStop(std::function<void()> call) {
  state_->before_stop = std::move(call);
}

namespace {

// The state of a line editor on `in` and `out`, libedit's parts made but not yet set up.
std::unique_ptr<State> NewState(std::FILE* in, std::FILE* out, int out_fd,
                                std::function<void(Asks)> print_above) {
  auto state = std::make_unique<State>();
  state->fd = fileno(in);
  state->out = out;
  state->print_above = std::move(print_above);
  // The user's character set decides how typed text is shown; the bytes pass whatever it is.
  state->utf8 = UserCharsetIsUtf8();
  const char* term = std::getenv("TERM");
  state->bracketed = term != nullptr && term[0] != '\0' && std::strcmp(term, "dumb") != 0;
  state->have_before = tcgetattr(state->fd, &state->before) == 0;
  state->el = el_init_fd("morvax", in, out, stderr, state->fd, out_fd, fileno(stderr));
  state->history = history_winit();
  return state;
}

// Sets libedit up, each step once those before it worked, and takes the terminal into the
// editor's mode: the first step that fails, or nullptr.
const char* SetUp(State& state) {
  const char* failed = nullptr;
  EditLine* el = state.el;
  HistEventW event;
  auto step = [&failed](int result, const char* name) {
    if (!line_editing::Done(result, name)) failed = name;
    return failed == nullptr;
  };
  bool ready =
      step(el != nullptr ? 0 : -1, "el_init_fd") &&
      step(state.history != nullptr ? 0 : -1, "history_winit") &&
      step(history_w(state.history, &event, H_SETSIZE, LineEditor::kHistoryEntries),
           "history_w(H_SETSIZE)") &&
      step(history_w(state.history, &event, H_SETUNIQUE, 1), "history_w(H_SETUNIQUE)") &&
      step(el_set(el, EL_CLIENTDATA, &state), "el_set(EL_CLIENTDATA)") &&
      step(el_set(el, EL_SIGNAL, 0), "el_set(EL_SIGNAL)") &&
      step(el_set(el, EL_EDITOR, "emacs"), "el_set(EL_EDITOR)") &&
      step(el_set(el, EL_PROMPT, &line_editing::PromptText), "el_set(EL_PROMPT)") &&
      step(el_set(el, EL_GETCFN, &line_editing::GetChar), "el_set(EL_GETCFN)") &&
      step(el_wset(el, EL_HIST, &history_w, state.history), "el_wset(EL_HIST)") &&
      step(el_wset(el, EL_ADDFN, L"morvax-complete", L"Complete a file name",
                   &line_editing::CompleteName),
           "el_wset(EL_ADDFN)") &&
      step(el_wset(el, EL_ADDFN, L"morvax-act", L"Put in text as it stands", &line_editing::Act),
           "el_wset(EL_ADDFN)");
  // ~/.editrc, or $EDITRC: a missing one turns nothing off.
  if (ready) static_cast<void>(el_source(el, nullptr));
  // CR and LF reach the reader as they are, so that a pasted CR LF is one line end.
  ready =
      ready && step(el_set(el, EL_SETTY, "-d", "-icrnl", "-inlcr", nullptr), "el_set(EL_SETTY)");
  if (ready) {
    line_editing::SetHandlers(state);
    // The editor's mode from now on: see the header.
    static_cast<void>(step(el_set(el, EL_PREP_TERM, 1), "el_set(EL_PREP_TERM)"));
  }
  return failed;
}

}  // namespace

std::unique_ptr<LineEditor> LineEditor::Open(std::FILE* in, std::FILE* out, int out_fd,
                                             std::function<void(Asks)> print_above,
                                             const char*& failed) {
  std::unique_ptr<State> state = NewState(in, out, out_fd, std::move(print_above));
  failed = SetUp(*state);
  if (failed != nullptr) {
    // The terminal as it was; the state's end frees libedit's parts and gives the handlers back.
    if (state->el != nullptr) el_set(state->el, EL_PREP_TERM, 0);
    if (state->have_before) tcsetattr(state->fd, TCSADRAIN, &state->before);
    return nullptr;
  }
  return std::unique_ptr<LineEditor>(new LineEditor(std::move(state)));
}

namespace {

// A read starts with nothing of the last one.
void StartRead(State& s, const char* prompt, Asks asks, std::size_t room) {
  s.prompt = prompt;
  s.asks = asks;
  s.input_ended = false;
  s.pending_count = s.pending_at = 0;
  s.insert.clear();
  s.paste_bytes.clear();
  s.redisplay = s.pasted = s.cut = false;
  s.room = room;
  s.escape = 0;
}

// Binds the keys a read needs; false when libedit refused one. Bound at every read, so that no
// other binding (a "bind -v" typed at ed-command) drops them.
bool BindKeys(State& s, Asks asks, const char* bind) {
  const wchar_t act[] = {line_editing::kAct, 0};
  const wchar_t newline[] = {line_editing::kNewline, 0};
  return line_editing::Done(
             el_wset(s.el, EL_BIND, L"^I",
                     asks == Asks::kFileName ? L"morvax-complete" : L"ed-insert", nullptr),
             bind) &&
         line_editing::Done(el_wset(s.el, EL_BIND, act, L"morvax-act", nullptr), bind) &&
         line_editing::Done(el_wset(s.el, EL_BIND, newline, L"ed-newline", nullptr), bind) &&
         line_editing::Done(el_wset(s.el, EL_BIND, L"-a", act, L"morvax-act", nullptr), bind) &&
         line_editing::Done(el_wset(s.el, EL_BIND, L"-a", newline, L"ed-newline", nullptr), bind);
}

// The `count` characters at `text` that el_wgets gave, as the line's bytes; the line goes into
// the history.
LineEditor::Outcome TakeLine(State& s, const wchar_t* text, int count, LineReader::Typed& line) {
  line.bytes = line_editing::ToBytes(text, text + count);
  line.cut = s.cut;

  std::wstring entry(text, static_cast<std::size_t>(count));
  std::size_t bytes = line.bytes.size();
  if (!entry.empty() && entry.back() == L'\n') {
    entry.pop_back();
    --bytes;
  }
  if (!entry.empty()) line_editing::Remember(s, entry, bytes);
  return s.pasted ? LineEditor::Outcome::kPasted : LineEditor::Outcome::kLine;
}

}  // namespace

LineEditor::Outcome LineEditor::Read(const char* prompt, Asks asks, std::size_t room, Typed& line) {
  State& s = *state_;
  line.cut = false;
  line.off = nullptr;
  StartRead(s, prompt, asks, room);
  line_editing::TakeTerminalEvents(s, false);
  line_editing::PasteModeOn(s);
  const char* bind = "el_wset(EL_BIND)";
  if (!BindKeys(s, asks, bind)) {
    // Keys that reach no function would leave the keyboard dead: no line editing instead.
    line_editing::Release(s);
    line.off = bind;
    return Outcome::kOff;
  }

  int count = 0;
  const wchar_t* text = el_wgets(s.el, &count);
  // el_wgets gives the terminal back at the end of every line: the editor keeps it.
  el_set(s.el, EL_PREP_TERM, 1);
  if (count == 0 && !s.input_ended) {
    std::fputc('\n', s.out);  // Ctrl-D: libedit echoed "^D", and what follows goes below it
    std::fflush(s.out);
  }
  if (text == nullptr || count <= 0) return count < 0 ? Outcome::kFailed : Outcome::kEnd;
  return TakeLine(s, text, count, line);
}

void LineEditor::Leave() {
  line_editing::Release(*state_);
  line_editing::LetStop(*state_);  // Ctrl-Z stops the command and the editor
}

void LineEditor::Return() {
  line_editing::CatchStop();
  line_editing::Retake(*state_);
}

