#include "term/line_editor.h"

// Built without libedit: there is no line editor, and Io reads the stream itself.
struct LineEditor::State {};

std::unique_ptr<LineEditor> LineEditor::Open(std::FILE*, std::FILE*, int,
                                             std::function<void(Asks)>, const char*&) {
  return nullptr;
}

LineEditor::LineEditor(std::unique_ptr<State> state) : state_(std::move(state)) {}
LineEditor::~LineEditor() = default;

LineEditor::Outcome LineEditor::Read(const char*, Asks, std::size_t, Typed&) {
  return Outcome::kEnd;
}

void LineEditor::BeforeStop(std::function<void()>) {}
void LineEditor::Leave() {}
void LineEditor::Return() {}
