// The insertion check and the two writers on a bare grid: column 0, the middle, past the end,
// the last column, and lines that would outgrow their slot.
#include "edit/text_entry.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/edit_commands.h"
#include "core/document.h"
#include "session.h"

namespace {

// A grid of two slots of 11 bytes (lines of at most 10 characters) holding `line` first.
bool StartWith(Document& doc, const std::string& line) {
  return doc.Allocate(2, 11).ok() && doc.SetLine(0, line).ok();
}

// An undo record for lines of 11 bytes, as the editor has it.
struct UndoRoom {
  UndoRoom() {
    undo.first = ZeroedBytes(11);
    undo.second = ZeroedBytes(11);
  }
  UndoState undo;
};

TEST(Insert, CheckedInsertionKeepsEveryLineInsideItsSlot) {
  struct Case {
    const char* line;
    int position;
    const char* text;
    const char* result;  // nullptr: refused
    const char* message;
  };
  // A slot of 11 bytes: lines of at most 10 characters.
  const Case cases[] = {
      {"abcdef", 0, "XY", "XYabcdef", ""},
      {"abcdef", 2, "XY", "abXYcdef", ""},
      {"abc", 6, "XY", "abc   XY", ""},
      {"abcdefgh", 2, "XYZ", "abXYcdefgh",
       "Insert was truncated because the line would have exceeded 11\n"},
      {"ab", 8, "XYZ", "ab      XY",
       "Insert was truncated because it is too long for the position\n"},
      {"ab", 10, "X", nullptr, "Insert was truncated because it is too long for the position\n"},
      {"abcdefghij", 3, "X", nullptr,
       "Insert was truncated because the line would have exceeded 11\n"},
      {"abc", 1, "", nullptr, ""},
  };
  for (const Case& c : cases) {
    Document doc;
    ASSERT_TRUE(StartWith(doc, c.line));
    bool go = false;
    UndoRoom record;
    std::string out = Collect([&](Io& io) {
      Inserted insert = Insert(doc, {0, c.position}, c.text, {record.undo, UndoMode::kLine, 0});
      ReportInsert(io, insert, doc.lsize());
      go = insert.done;
    });
    EXPECT_EQ(out, c.message) << c.line << " + " << c.text;
    EXPECT_EQ(go, c.result != nullptr) << c.line << " + " << c.text;
    EXPECT_EQ(SlotText(doc, 0), c.result ? c.result : c.line) << c.line << " + " << c.text;
    EXPECT_TRUE(doc.CheckInvariant()) << c.line << " + " << c.text;
  }
}

TEST(Replace, OverwritesOnlyInsideTheSlot) {
  struct Case {
    const char* line;
    int position;
    const char* text;
    const char* result;
    const char* message;
  };
  const Case cases[] = {
      {"abcdefgh", 2, "XY", "abXYefgh", ""},
      {"abc", 6, "X", "abc   X", ""},
      {"abc", 0, "", "abc", ""},
      {"abc", 5, "", "abc  ", ""},
      {"", 8, "XYZ", "        XY", "Text was shortened to fit onto line\n"},
      {"abc", 10, "X", "abc", "At End Of Line\n"},
  };
  UndoRoom record;
  auto replace = [&](Document& doc, int line, int position, const char* text) {
    return Replace(doc, {line, position}, text, false, {record.undo, UndoMode::kLine, line});
  };
  for (const Case& c : cases) {
    Document doc;
    ASSERT_TRUE(StartWith(doc, c.line));
    EXPECT_EQ(Collect([&](Io& io) { ReportEntry(io, replace(doc, 0, c.position, c.text)); }),
              c.message)
        << c.line;
    EXPECT_EQ(SlotText(doc, 0), c.result) << c.line;
    EXPECT_TRUE(doc.CheckInvariant()) << c.line;
  }
  Document doc;
  ASSERT_EQ(doc.Allocate(2, 11), 0);
  EXPECT_EQ(Collect([&](Io& io) { ReportEntry(io, replace(doc, 2, 0, "X")); }),
            "Invalid Line Number\n");
}

}  // namespace
