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
    el_winsertstr(el, s.insert.c_str());
    s.insert.clear();
  }
  if (s.redisplay) {
    s.redisplay = false;
    LendClearRow(s);
    return CC_REDISPLAY;
  }
  return CC_REFRESH;
}

char* PromptText(EditLine* el) {
  return StateOf(el).prompt.data();
}

}  // namespace
}  // namespace line_editing

using line_editing::State;

LineEditor::LineEditor(std::unique_ptr<State> state) : state_(std::move(state)) {}

LineEditor::~LineEditor() {
  line_editing::Release(*state_);
}

std::unique_ptr<LineEditor> LineEditor::Open(std::FILE* in, std::FILE* out, int out_fd,
                                             std::function<void()> print_view) {
  auto state = std::make_unique<State>();
  state->fd = fileno(in);
  state->out = out;
  state->print_view = std::move(print_view);
  // The user's character set decides how typed text is shown; the bytes pass whatever it is.
  state->utf8 = UserCharsetIsUtf8();
  const char* term = std::getenv("TERM");
  state->bracketed = term != nullptr && term[0] != '\0' && std::strcmp(term, "dumb") != 0;
  state->have_before = tcgetattr(state->fd, &state->before) == 0;
  state->el = el_init_fd("morvax", in, out, stderr, state->fd, out_fd, fileno(stderr));
  state->history = history_winit();
  if (state->el == nullptr || state->history == nullptr) return nullptr;

  HistEventW event;
  history_w(state->history, &event, H_SETSIZE, INT_MAX);  // every line of the session
  history_w(state->history, &event, H_SETUNIQUE, 1);
  EditLine* el = state->el;
  el_set(el, EL_CLIENTDATA, state.get());
  el_set(el, EL_SIGNAL, 0);
  el_set(el, EL_EDITOR, "emacs");
  el_set(el, EL_PROMPT, &line_editing::PromptText);
  el_set(el, EL_GETCFN, &line_editing::GetChar);
  el_wset(el, EL_HIST, &history_w, state->history);
  el_wset(el, EL_ADDFN, L"morvax-complete", L"Complete a file name", &line_editing::CompleteName);
  el_wset(el, EL_ADDFN, L"morvax-act", L"Put in text as it stands", &line_editing::Act);
  el_source(el, nullptr);  // ~/.editrc, or $EDITRC
  // CR and LF reach the reader as they are, so that a pasted CR LF is one line end.
  el_set(el, EL_SETTY, "-d", "-icrnl", "-inlcr", nullptr);

  line_editing::SetHandlers(*state);
  el_set(el, EL_PREP_TERM, 1);  // the editor's mode from now on: see the header
  return std::unique_ptr<LineEditor>(new LineEditor(std::move(state)));
}

LineEditor::Status LineEditor::Read(const char* prompt, Asks asks, std::string& line) {
  State& s = *state_;
  s.prompt = prompt;
  s.at_view = asks == Asks::kCommand && s.print_view != nullptr;
  s.input_ended = false;
  s.pending_count = s.pending_at = 0;
  s.insert.clear();
  s.paste_bytes.clear();
  s.redisplay = s.pasted = false;
  line_editing::TakeTerminalEvents(s, false);
  line_editing::PasteModeOn(s);
  el_wset(s.el, EL_BIND, L"^I", asks == Asks::kFileName ? L"morvax-complete" : L"ed-insert",
          nullptr);
  // Bound at every read, so that no other binding (a "bind -v" typed at ed-command) drops them.
  const wchar_t act[] = {line_editing::kAct, 0};
  const wchar_t newline[] = {line_editing::kNewline, 0};
  el_wset(s.el, EL_BIND, act, L"morvax-act", nullptr);
  el_wset(s.el, EL_BIND, newline, L"ed-newline", nullptr);
  el_wset(s.el, EL_BIND, L"-a", act, L"morvax-act", nullptr);
  el_wset(s.el, EL_BIND, L"-a", newline, L"ed-newline", nullptr);

  int count = 0;
  const wchar_t* text = el_wgets(s.el, &count);
  // el_wgets gives the terminal back at the end of every line: the editor keeps it.
  el_set(s.el, EL_PREP_TERM, 1);
  line_editing::GiveBackClearRow(s);
  if (count == 0 && !s.input_ended) {
    std::fputc('\n', s.out);  // Ctrl-D: libedit echoed "^D", and what follows goes below it
    std::fflush(s.out);
  }
  if (text == nullptr || count <= 0) return count < 0 ? Status::kFailed : Status::kEnd;
  line = line_editing::ToBytes(text, text + count);

  std::wstring entry(text, static_cast<std::size_t>(count));
  if (!entry.empty() && entry.back() == L'\n') entry.pop_back();
  if (!entry.empty()) {
    HistEventW event;
    history_w(s.history, &event, H_ENTER, entry.c_str());
  }
  return s.pasted ? Status::kPasted : Status::kLine;
}

void LineEditor::Leave() {
  line_editing::Release(*state_);
  line_editing::LetStop(*state_);  // Ctrl-Z stops the command and the editor
}

void LineEditor::Return() {
  line_editing::CatchStop();
  line_editing::Retake(*state_);
}

